// The helper socket table: 20 slots, each an accepted connection with its
// receive buffer.  Slot indexes are 0..19; -1 stands for "no slot" and for
// "no socket".
#pragma once
#include <array>
#include <cstdint>

inline constexpr int HELPER_SLOTS = 20;
inline constexpr int HELPER_SLOT_BUF = 2048;

struct HelperSlot {
  int32_t PeerSocket;  // -1: none
  int32_t Socket;      // -1: none
  std::array<char, HELPER_SLOT_BUF> Buf;
  int32_t Len;
  int32_t InUse;
};

struct HelperSocketTable {
  std::array<HelperSlot, HELPER_SLOTS> Slots;
  int32_t LastAccepted;  // -1 before the first accept
  int32_t LastUsed;      // where the search for a free slot starts after
};

extern HelperSocketTable sgHelperSockets;

// Closes every slot's sockets and clears the table.
void HelperSocketsClear();

// Closes the slot's socket and its peer socket and frees the slot: 0, or -1
// for an index outside the table.
int WinHelperCloseSocket(int index);
// The slot in use that holds the socket, or -1.
int WinHelperFindSlot(int socket);
int WinHelperSlotOfSocket(int socket);
// Accepts one connection of the listening socket into a free slot: the
// slot's index; -1 when every slot is taken, -2 when the accept fails (both
// run errors).
int WinHelperAccept(int listenSocket);
// A free slot, searched from just after the last used one and wrapping to
// the start; -1 when all 20 are in use.
int WinHelperFreeSlot();
