// The catalog of result-code texts: a constant table from code to English text,
// sorted by code, with one shared text for the query-language codes. The table
// is read-only for the life of the process and may be read from any thread.
//
// Internal to the library; callers outside it use LxError (lxmessages.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace lxmessages {

struct CatalogRow {
  int32_t code;
  const char* text;
};

// Texts that are not rows of the table.
extern const char kOkText[];            // code 0, text-only
extern const char kCountText[];         // codes 1 to 999 without a row
extern const char kUnknownErrorText[];  // every other code without a row
extern const char kQueryLanguageText[];

// True for the query-language codes -3099 to -3001 and 3001 to 3003: they share
// kQueryLanguageText and are never offered to the module callbacks.
inline bool IsQueryLanguageCode(int code) {
  return (code >= -3099 && code <= -3001) || (code >= 3001 && code <= 3003);
}

// The table's own text for `code` (a constant), or null when the table has no
// row for it. Code 0 and the query-language codes have no row here.
const char* FindCatalogText(int code);

// The text for `code` without asking the module callbacks: the table's row,
// kQueryLanguageText, kOkText, kCountText or kUnknownErrorText. Never null.
const char* CatalogText(int code);

// The rows, ascending by code, for listing the catalog.
const CatalogRow* CatalogRows();
size_t CatalogRowCount();

}  // namespace lxmessages
