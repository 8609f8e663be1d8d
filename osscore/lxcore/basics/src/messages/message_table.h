// The message table of the system log: the text of each event id, as the
// library's file carries it, and the rendering of an entry from its text and its
// four insertion strings.
//
// Texts are 8-bit strings that refer to the insertion strings as %1 to %4. %n is
// the table's line break; in the texts it is always followed by a carriage return
// and a line feed, and the three together render as one '\n'. "%%" renders as one
// '%'. Insertion strings are copied as they stand: a '%' inside them is not
// expanded again. The table is constant and may be read from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace lxmessages {

// The text of `eventId`, or null when the table has none for it.
const char* MessageText(uint32_t eventId);

// The entry's rendered message: the table's text of `eventId` with the insertion
// strings put in place (a null string counts as empty). When the table has no text
// for the id, the message is the entry's own text, strings[1].
std::string RenderMessage(uint32_t eventId, const char* const strings[4]);

// Expands one table text (see above) with the insertion strings.
std::string ExpandMessage(const char* text, const char* const strings[4]);

}  // namespace lxmessages
