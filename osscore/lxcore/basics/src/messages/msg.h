// Internals of the message object (lxmessages.h): the style its box is shown
// with and the translation of the presenter's answer into the message result.
#pragma once

#include <cstdint>

namespace lxmessages {

// The box style for message flags: the flags with the library's high byte
// cleared and the task-modal, foreground, topmost and service-notification bits
// set, (flags & 0x00DADFFF) | 0x00252000.
constexpr uint32_t MessageStyle(uint32_t flags) { return (flags & 0x00DADFFFu) | 0x00252000u; }

// The LX_MSG_* result of a presenter answer (lxos::MessageAnswer); an answer
// outside OK to No counts as OK.
uint32_t MessageResult(int answer);

}  // namespace lxmessages
