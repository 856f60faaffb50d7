# Writes the English catalogue from the Czech one: the viewer's source texts are
# English, so each message of viewer_cs.ts translates to its own source text.
#   cmake -DCZECH=<viewer_cs.ts> -DENGLISH=<viewer_en.ts> -P english_catalogue.cmake
file(READ ${CZECH} catalogue)
string(REGEX REPLACE "[ \t]*<translation[^>]*>[^<]*</translation>\n" "" catalogue "${catalogue}")
string(REGEX REPLACE "([ \t]*)<source>([^<]*)</source>\n"
       "\\1<source>\\2</source>\n\\1<translation>\\2</translation>\n" catalogue "${catalogue}")
string(REPLACE "language=\"cs_CZ\"" "language=\"en_US\"" catalogue "${catalogue}")
file(WRITE ${ENGLISH} "${catalogue}")
