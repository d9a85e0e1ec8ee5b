// The card readers and cards of a machine, read from the same machine description as the
// authentication library's (two more top-level members; the authentication library ignores
// them, this one ignores everything else):
//
//   {
//     "users": [...],                                   // owners are these users
//     "cardReaders": [{"name": "Sim Contactless Reader", "kind": "multiplexing",
//                      "connected": true}],
//     "cards": [{"name": "alice-badge", "type": 2, "id": 4660, "owner": "alice",
//                "reader": "Sim Contactless Reader", "site": 7, "generation": 1,
//                "description": "Alice's badge"}]
//   }
//
// Reader kinds: "multiplexing" (the default: a card put on it is announced as inserted, then
// as ready) and "contact" (inserted only). Card types: 1 smart card, 2 contactless, 4
// proximity, 8 NFC; any other non-zero number is kept as given (a type the agent does not
// know). "name" defaults to the decimal id; "reader" absent or null: the card is in no
// reader; "site" and "generation" are the two further fields of the card's information record
// (default 0 and 1); "owner" absent: a card nobody owns. Numbers are whole and in 32 bits.
#pragma once

#include <string>
#include <vector>

#include "platform/win_types.h"
#include "standins/vdfpapi/description.h"

namespace vdsc_standin {

enum class ReaderKind { Multiplexing, Contact };

struct CardReaderDesc {
  std::wstring name;
  ReaderKind kind = ReaderKind::Multiplexing;
  bool connected = true;
};

struct CardDesc {
  std::wstring name;
  DWORD type = 0;
  DWORD id = 0;
  DWORD site = 0;
  DWORD generation = 1;
  std::wstring owner;   // a user of the machine description, by any of the user's names
  std::wstring reader;  // empty: in no reader
  std::wstring description;
};

struct CardsDescription {
  std::vector<CardReaderDesc> readers;
  std::vector<CardDesc> cards;

  // Throws vdfp_standin::DescriptionError naming the member at fault: malformed JSON, a
  // wrong type, a card of type 0, two readers or two cards of one name, a card in a reader
  // that is not described, two cards in one reader.
  static CardsDescription FromJson(const std::string& json);
};

// The credential type a card type is enrolled as: 1 → 0x4, 2 and 8 → 0x20, 4 → 0x100,
// anything else 0.
ULONGLONG CardCredential(DWORD cardType);
// "Smartcard", "Contactless", "Proximity", "NFC" or "Card type <n>".
std::wstring CardTypeText(DWORD cardType);

}  // namespace vdsc_standin
