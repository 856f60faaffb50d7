// Draws the card manager's pictures at build time: the page images, the tree and
// window icons, and the page buttons of each language. Everything is drawn here from
// shapes and the build machine's sans-serif font; no picture is copied from anywhere.
// The pictures are neutral: a generic card with a contact plate, a generic reader,
// keys, a certificate sheet; no emblem, no state symbol.
//
// Usage: cardadmin_art <output directory>
// Writes <dir>/img/<name>, <dir>/icons/<name> and <dir>/buttons/<cz|en>/<name>, PNG
// files without a suffix (the resource names carry none).
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <functional>

namespace
{

const QColor kInk(0x2f, 0x3e, 0x4e);      // dark slate: outlines and text
const QColor kBlue(0x3a, 0x6e, 0xa5);     // the pages' accent
const QColor kPaleBlue(0xdc, 0xe8, 0xf4); // light accent
const QColor kPaper(0xfc, 0xfc, 0xfc);    // the window's background
const QColor kGold(0xd9, 0xb8, 0x5c);     // contact plate and key metal

using Painter = std::function<void(QPainter &, const QRectF &)>;

bool save(const QString &path, int w, int h, const Painter &paint, bool opaque = false)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(opaque ? kPaper : Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        paint(p, QRectF(0, 0, w, h));
    }
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cardadmin_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void verticalGradient(QPainter &p, const QRectF &r, const QColor &top, const QColor &bottom)
{
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(r, g);
}

void horizontalGradient(QPainter &p, const QRectF &r, const QColor &left, const QColor &right)
{
    QLinearGradient g(r.topLeft(), r.topRight());
    g.setColorAt(0, left);
    g.setColorAt(1, right);
    p.fillRect(r, g);
}

// A card seen from the front: rounded body, contact plate at the left, a few lines of print.
void drawCard(QPainter &p, const QRectF &r)
{
    qreal u = r.width() / 86.0; // the card's own millimetres
    QRectF body = r.adjusted(u, u, -u, -u);
    QLinearGradient g(body.topLeft(), body.bottomRight());
    g.setColorAt(0, QColor(0xf4, 0xf7, 0xfb));
    g.setColorAt(1, kPaleBlue);
    p.setPen(QPen(kInk, qMax<qreal>(1, u * 0.8)));
    p.setBrush(g);
    p.drawRoundedRect(body, 4 * u, 4 * u);
    p.fillRect(
        QRectF(body.left(), body.top() + body.height() * 0.72, body.width(), body.height() * 0.1),
        kBlue);
    QRectF plate(body.left() + 10 * u, body.top() + 17 * u, 13 * u, 10 * u);
    p.setBrush(kGold);
    p.setPen(QPen(QColor(0x8a, 0x70, 0x2a), qMax<qreal>(0.6, u * 0.4)));
    p.drawRoundedRect(plate, 1.5 * u, 1.5 * u);
    p.drawLine(QPointF(plate.center().x(), plate.top()),
               QPointF(plate.center().x(), plate.bottom()));
    p.drawLine(QPointF(plate.left(), plate.center().y()),
               QPointF(plate.right(), plate.center().y()));
    p.setPen(QPen(kInk.lighter(170), qMax<qreal>(1, u)));
    for (int i = 0; i < 3; ++i) {
        qreal y = body.top() + (14 + 6 * i) * u;
        p.drawLine(QPointF(body.left() + 32 * u, y), QPointF(body.right() - (10 + 8 * i) * u, y));
    }
}

// A desktop reader: a wedge-shaped box with a slot and a small lamp.
void drawReader(QPainter &p, const QRectF &r, bool withCard)
{
    qreal u = r.width() / 100.0;
    if (withCard)
        drawCard(p, QRectF(r.left() + 22 * u, r.top(), 56 * u, 36 * u));
    QPainterPath box;
    box.moveTo(r.left() + 8 * u, r.bottom() - 4 * u);
    box.lineTo(r.right() - 8 * u, r.bottom() - 4 * u);
    box.lineTo(r.right() - 14 * u, r.top() + 30 * u);
    box.lineTo(r.left() + 14 * u, r.top() + 30 * u);
    box.closeSubpath();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, QColor(0x5a, 0x6a, 0x7a));
    g.setColorAt(1, kInk);
    p.setPen(QPen(kInk.darker(130), qMax<qreal>(1, u)));
    p.setBrush(g);
    p.drawPath(box);
    p.setPen(QPen(QColor(0x18, 0x20, 0x28), qMax<qreal>(1.5, 3 * u)));
    p.drawLine(QPointF(r.left() + 24 * u, r.top() + 36 * u),
               QPointF(r.right() - 24 * u, r.top() + 36 * u));
    p.setPen(Qt::NoPen);
    p.setBrush(withCard ? QColor(0x5c, 0xc0, 0x6a) : QColor(0xa0, 0xa8, 0xb0));
    qreal lamp = qMax<qreal>(1.5, 4 * u);
    p.drawEllipse(QPointF(r.right() - 22 * u, r.bottom() - 14 * u), lamp, lamp);
}

// A key lying on its side: ring at the left, shaft and two teeth.
void drawKey(QPainter &p, const QRectF &r, const QColor &metal)
{
    qreal u = r.width() / 100.0;
    p.setPen(QPen(metal.darker(160), qMax<qreal>(1, 2 * u)));
    p.setBrush(metal);
    QPainterPath key;
    QPointF ring(r.left() + 22 * u, r.center().y());
    key.addEllipse(ring, 20 * u, 20 * u);
    key.addRect(QRectF(ring.x() + 18 * u, ring.y() - 6 * u, 58 * u, 12 * u));
    key.addRect(QRectF(r.left() + 72 * u, ring.y() + 4 * u, 8 * u, 14 * u));
    key.addRect(QRectF(r.left() + 86 * u, ring.y() + 4 * u, 8 * u, 18 * u));
    key.setFillRule(Qt::WindingFill);
    p.drawPath(key.simplified());
    p.setBrush(kPaper);
    p.drawEllipse(ring, 8 * u, 8 * u);
}

// A certificate: a sheet with lines of text and a ribbon rosette in the corner.
void drawCertificate(QPainter &p, const QRectF &r)
{
    qreal u = r.width() / 100.0;
    QRectF sheet = r.adjusted(8 * u, 2 * u, -8 * u, -2 * u);
    p.setPen(QPen(kInk, qMax<qreal>(1, 2 * u)));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.setPen(QPen(kInk.lighter(160), qMax<qreal>(1, 4 * u)));
    for (int i = 0; i < 3; ++i) {
        qreal y = sheet.top() + (18 + 16 * i) * u;
        p.drawLine(QPointF(sheet.left() + 10 * u, y), QPointF(sheet.right() - 10 * u, y));
    }
    QPointF c(sheet.right() - 18 * u, sheet.bottom() - 20 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    QPolygonF ribbon;
    ribbon << c << QPointF(c.x() - 12 * u, c.y() + 24 * u)
           << QPointF(c.x() + 12 * u, c.y() + 24 * u);
    p.drawPolygon(ribbon);
    p.setBrush(kGold);
    p.drawEllipse(c, 14 * u, 14 * u);
}

void drawMagnifier(QPainter &p, const QRectF &r)
{
    qreal u = r.width() / 100.0;
    QPointF c(r.left() + 40 * u, r.top() + 40 * u);
    p.setPen(QPen(kInk, 14 * u, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x() + 24 * u, c.y() + 24 * u),
               QPointF(r.right() - 8 * u, r.bottom() - 8 * u));
    QRadialGradient glass(c, 30 * u);
    glass.setColorAt(0, QColor(255, 255, 255, 230));
    glass.setColorAt(1, kPaleBlue);
    p.setPen(QPen(kInk.lighter(130), 7 * u));
    p.setBrush(glass);
    p.drawEllipse(c, 30 * u, 30 * u);
}

// Three layers, left to right: an application window, the module, the card.
void drawMiddleware(QPainter &p, const QRectF &r)
{
    qreal u = r.height() / 80.0;
    QRectF app(r.left() + 4 * u, r.top() + 14 * u, 56 * u, 44 * u);
    p.setPen(QPen(kInk, 1.5 * u));
    p.setBrush(Qt::white);
    p.drawRect(app);
    p.fillRect(QRectF(app.left(), app.top(), app.width(), 8 * u), kBlue);
    QRectF module(r.left() + 86 * u, r.top() + 22 * u, 40 * u, 28 * u);
    p.setBrush(kPaleBlue);
    p.drawRoundedRect(module, 4 * u, 4 * u);
    p.setPen(QPen(kInk, 1.2 * u));
    for (int i = 0; i < 4; ++i) {
        qreal x = module.left() + (8 + 8 * i) * u;
        p.drawLine(QPointF(x, module.top()), QPointF(x, module.top() - 5 * u));
        p.drawLine(QPointF(x, module.bottom()), QPointF(x, module.bottom() + 5 * u));
    }
    drawCard(p, QRectF(r.left() + 150 * u, r.top() + 18 * u, 52 * u, 34 * u));
    p.setPen(QPen(kBlue, 3 * u, Qt::SolidLine, Qt::RoundCap));
    for (qreal x : {app.right() + 4 * u, module.right() + 4 * u}) {
        qreal y = r.top() + 36 * u;
        p.drawLine(QPointF(x, y), QPointF(x + 16 * u, y));
        p.drawLine(QPointF(x + 16 * u, y), QPointF(x + 10 * u, y - 5 * u));
        p.drawLine(QPointF(x + 16 * u, y), QPointF(x + 10 * u, y + 5 * u));
    }
}

// An abstract rosette: a toothed ring around a plain disc.
void drawRosette(QPainter &p, const QRectF &r)
{
    QPointF c = r.center();
    qreal outer = r.width() / 2 - 2, inner = outer * 0.82;
    QPolygonF teeth;
    for (int i = 0; i < 48; ++i) {
        qreal a = i * M_PI / 24;
        qreal rad = (i % 2) ? inner : outer;
        teeth << QPointF(c.x() + rad * std::cos(a), c.y() + rad * std::sin(a));
    }
    p.setPen(QPen(kBlue.darker(130), 1));
    p.setBrush(kBlue);
    p.drawPolygon(teeth);
    p.setBrush(kPaleBlue);
    p.drawEllipse(c, inner * 0.8, inner * 0.8);
    p.setPen(QPen(kBlue, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, inner * 0.6, inner * 0.6);
}

// A page button: a rounded gradient face with its label.
Painter button(const QString &label)
{
    return [label](QPainter &p, const QRectF &r) {
        QRectF face = r.adjusted(1, 1, -1, -2);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 40));
        p.drawRoundedRect(face.translated(0, 1.5), 6, 6);
        QLinearGradient g(face.topLeft(), face.bottomLeft());
        g.setColorAt(0, kBlue.lighter(125));
        g.setColorAt(1, kBlue.darker(115));
        p.setBrush(g);
        p.setPen(QPen(kBlue.darker(150), 1));
        p.drawRoundedRect(face, 6, 6);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(face, Qt::AlignCenter, label);
    };
}

int buttonWidth(const QString &label)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(label) + 36;
}

struct ButtonLabel {
    const char *name, *cz, *en;
};

const ButtonLabel kButtons[] = {
    {"deleteCert", "Smazat certifikát", "Delete certificate"},
    {"deleteKey", "Smazat klíč", "Delete key"},
    {"exportCert", "Exportovat certifikát", "Export certificate"},
    {"exportKey", "Exportovat klíč", "Export key"},
    {"importCert", "Importovat certifikát", "Import certificate"},
    {"more", "Více informací", "More information"},
    {"pfx", "Importovat klíč (pfx)", "Import key (pfx)"},
    {"pin", "Změnit PIN", "Change PIN"},
    {"puk", "Změnit PUK", "Change PUK"},
    {"refresh", "Načíst čtečky a karty", "Scan readers and cards"},
    {"test", "Otestovat klíče", "Test keys"},
    {"unblock", "Odblokovat PIN", "Unblock PIN"},
};

bool drawAll(const QString &dir)
{
    for (const char *sub : {"img", "icons", "buttons/cz", "buttons/en"})
        if (!QDir().mkpath(dir + "/" + sub))
            return false;
    auto img = [&](const char *name) { return dir + "/img/" + name; };
    auto icon = [&](const char *name) { return dir + "/icons/" + name; };
    bool ok = true;

    // Page frame: header band, backgrounds, footer and the shadows around the sheet.
    ok &= save(img("header"), 520, 72, [](QPainter &p, const QRectF &r) {
        drawCard(p, QRectF(r.right() - 150, 10, 86, 54));
        drawKey(p, QRectF(r.right() - 80, 28, 60, 30), kGold);
        p.setPen(QPen(QColor(255, 255, 255, 90), 2));
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(0, 18 + 12 * i), QPointF(r.right() - 170 - 14 * i, 18 + 12 * i));
    });
    ok &= save(img("header_back"), 8, 72, [](QPainter &p, const QRectF &r) {
        verticalGradient(p, r, kBlue.lighter(115), kBlue.darker(125));
    });
    ok &= save(img("main_back"), 16, 16, [](QPainter &p, const QRectF &r) {
        p.fillRect(r, QColor(0xee, 0xf1, 0xf5));
        p.fillRect(QRectF(0, 0, 1, 1), QColor(0xe4, 0xe9, 0xef));
    });
    ok &= save(img("back2"), 8, 8, [](QPainter &p, const QRectF &r) { p.fillRect(r, Qt::white); });
    ok &= save(img("footer_back"), 8, 36, [](QPainter &p, const QRectF &r) {
        verticalGradient(p, r, QColor(0xe6, 0xea, 0xef), QColor(0xcf, 0xd6, 0xde));
    });
    ok &= save(img("bottom_shadow"), 8, 8, [](QPainter &p, const QRectF &r) {
        verticalGradient(p, r, QColor(0, 0, 0, 60), QColor(0, 0, 0, 0));
    });
    ok &= save(img("left_shadow"), 8, 8, [](QPainter &p, const QRectF &r) {
        horizontalGradient(p, r, QColor(0, 0, 0, 0), QColor(0, 0, 0, 50));
    });
    ok &= save(img("right_shadow"), 8, 8, [](QPainter &p, const QRectF &r) {
        horizontalGradient(p, r, QColor(0, 0, 0, 50), QColor(0, 0, 0, 0));
    });
    ok &= save(img("based_on"), 132, 28, [](QPainter &p, const QRectF &r) {
        p.setPen(QPen(kInk.lighter(150), 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        font.setBold(true);
        p.setFont(font);
        p.setPen(kInk);
        p.drawText(r, Qt::AlignCenter, QStringLiteral("PKCS#11 · PC/SC"));
    });

    // Pictures of the pages.
    ok &= save(img("card"), 172, 110, [](QPainter &p, const QRectF &r) { drawCard(p, r); });
    ok &= save(img("cardSmall"), 86, 56, [](QPainter &p, const QRectF &r) { drawCard(p, r); });
    ok &=
        save(img("reader"), 120, 96, [](QPainter &p, const QRectF &r) { drawReader(p, r, true); });
    ok &= save(img("klice"), 96, 96, [](QPainter &p, const QRectF &r) {
        drawKey(p, QRectF(r.left(), r.top() + 10, r.width() * 0.9, 44), kGold);
        drawKey(p, QRectF(r.left() + 8, r.top() + 48, r.width() * 0.9, 44),
                QColor(0xb8, 0xc2, 0xcc));
    });
    ok &= save(img("lupa"), 64, 64, [](QPainter &p, const QRectF &r) { drawMagnifier(p, r); });
    ok &= save(img("middleware"), 210, 80,
               [](QPainter &p, const QRectF &r) { drawMiddleware(p, r); });
    ok &= save(img("pecet"), 72, 72, [](QPainter &p, const QRectF &r) { drawRosette(p, r); });

    // Window and tree icons.
    ok &= save(icon("icon"), 64, 64, [](QPainter &p, const QRectF &r) {
        drawCard(p, QRectF(2, 8, 60, 38));
        drawKey(p, QRectF(22, 34, 40, 24), kGold);
        (void)r;
    });
    ok &=
        save(icon("reader"), 16, 16, [](QPainter &p, const QRectF &r) { drawReader(p, r, false); });
    ok &= save(icon("readerCard"), 16, 16,
               [](QPainter &p, const QRectF &r) { drawReader(p, r, true); });
    ok &= save(icon("card"), 16, 16,
               [](QPainter &p, const QRectF &) { drawCard(p, QRectF(0, 2, 16, 11)); });
    ok &= save(icon("key"), 16, 16,
               [](QPainter &p, const QRectF &) { drawKey(p, QRectF(0, 3, 16, 10), kGold); });
    ok &= save(icon("keyCert"), 16, 16, [](QPainter &p, const QRectF &) {
        drawCertificate(p, QRectF(5, 0, 11, 13));
        drawKey(p, QRectF(0, 7, 12, 8), kGold);
    });
    ok &= save(icon("cert"), 16, 16, [](QPainter &p, const QRectF &r) { drawCertificate(p, r); });

    // Page buttons, one set a language, one width for all of a language.
    for (const char *lang : {"cz", "en"}) {
        bool cz = QByteArray(lang) == "cz";
        int width = 0;
        for (const ButtonLabel &b : kButtons)
            width = qMax(width, buttonWidth(QString::fromUtf8(cz ? b.cz : b.en)));
        for (const ButtonLabel &b : kButtons)
            ok &= save(dir + "/buttons/" + lang + "/" + b.name, width, 32,
                       button(QString::fromUtf8(cz ? b.cz : b.en)));
    }
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: cardadmin_art <output directory>\n");
        return 2;
    }
    return drawAll(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
