// The reader and card tree. So far the tree lists the readers only; reading the
// cards, their keys and certificates, and the item pages come with the full reload.
#include <QIcon>
#include <QTreeWidget>

#include <cstdio>

#include "card_manager.h"
#include "slot_log.h"

int CardManager::initializeTree()
{
    SlotLog entry(*pkcs11, QStringLiteral("initializeTree()"));
    int n = pkcs11->GetReadersCount();
    libraryVersion = pkcs11->GetInfo();
    readerNames.clear();
    tokenPresent.clear();
    for (int i = 0; i < n; ++i) {
        if (pkcs11->SaveReader(i) != 0)
            return 0;
        if (printProgress)
            std::printf("Loading information about reader (%d/%d): done\n", i + 1, n);
        reader_info reader = pkcs11->GetReaderStruct(i);
        QString name =
            QString::fromUtf8(reader.slotDescription,
                              qstrnlen(reader.slotDescription, sizeof reader.slotDescription));
        bool card = pkcs11->SCardConnect(i) != 0;
        auto *item = new QTreeWidgetItem(tree, QStringList(name));
        item->setIcon(0, QIcon(card ? QStringLiteral(":/icons/readerCard")
                                    : QStringLiteral(":/icons/reader")));
        readerNames.append(name);
        tokenPresent.append(card);
    }
    if (printProgress)
        std::puts("Loading done");
    std::fflush(stdout);
    printProgress = false;
    return n;
}

void CardManager::reload()
{
    SlotLog entry(*pkcs11, QStringLiteral("reload()"));
    tree->clear();
    initializeTree();
    tree->expandAll();
    suggestSolutions();
}

void CardManager::treeClicked(QTreeWidgetItem *)
{
    SlotLog entry(*pkcs11, QStringLiteral("treeClicked(QTreeWidgetItem *item)"));
}
