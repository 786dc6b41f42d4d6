#pragma once

#include <QByteArray>

#include <cstdint>

namespace tolvex::X11RootInputSelection {

// The XInput2 events this program selects on the root window for all master
// devices, over Qt's connection. The server keeps one mask per client,
// window and device, and each selection replaces the last; so every watcher
// adds and removes its own bits here and the union is what gets selected.
// GUI thread only.

// The XInput extension's major opcode (how its events are told apart), 0
// without X11 or XInput.
std::uint8_t opcode();

// Adds XCB_INPUT_XI_EVENT_MASK_* bits. Checked, it waits for the server's
// answer and adds nothing when the server refuses; unchecked, it only queues
// the request and flushes. False when there is no X11 or XInput.
bool add(std::uint32_t bits, bool checked);
// Takes back bits added before; queued and flushed, never waited for.
void remove(std::uint32_t bits);

// The XInput2 event of the given type in a native event Qt hands to its
// filters, or null for any other event.
const void* inputEvent(const QByteArray& eventType, const void* message, std::uint8_t opcode, std::uint16_t type);

} // namespace tolvex::X11RootInputSelection
