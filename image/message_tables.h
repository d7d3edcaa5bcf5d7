// The two tables of a message file, included where they are used: kTexts
// (the Japanese texts) and kGlosses (their English glosses), each a
// zp3k::TextTable of MESSAGE_TABLE_ROWS rows read from MESSAGE_TABLE_FILE,
// whose rows are MSG(text, gloss). Both names are defined by the includer
// before and undefined here. Included inside the includer's namespace, after
// image/text_table.h; no include guard, as each program includes it once.

#define MSG(text, gloss) text "\0"
constexpr auto kTexts = zp3k::make_text_table<MESSAGE_TABLE_ROWS>(
#include MESSAGE_TABLE_FILE
);
#undef MSG

#define MSG(text, gloss) gloss "\0"
constexpr auto kGlosses = zp3k::make_text_table<MESSAGE_TABLE_ROWS>(
#include MESSAGE_TABLE_FILE
);
#undef MSG

#undef MESSAGE_TABLE_FILE
#undef MESSAGE_TABLE_ROWS
