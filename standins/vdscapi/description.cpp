#include "standins/vdscapi/description.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace vdsc_standin {

namespace {

using nlohmann::json;
using vdfp_standin::DescriptionError;
using vdfp_standin::EqualNoCase;
using vdfp_standin::Utf8ToWide;
using vdfp_standin::WideToUtf8;

[[noreturn]] void Fail(const std::string& what) { throw DescriptionError(what); }

std::wstring Text(const json& j, const std::string& field) {
  if (!j.is_string()) Fail("\"" + field + "\": a string was expected");
  return Utf8ToWide(j.get<std::string>());
}

DWORD Number(const json& j, const std::string& field) {
  // Only whole numbers that fit: nlohmann would quietly turn -1 or 1e10 into another id.
  if (!j.is_number_unsigned() || j.get<unsigned long long>() > 0xFFFFFFFFull) {
    const std::string shown = j.is_number() ? j.dump() + " is out of range" : "not a number";
    Fail("\"" + field + "\": " + shown + " (a whole number from 0 to 4294967295)");
  }
  return static_cast<DWORD>(j.get<unsigned long long>());
}

bool Flag(const json& j, const std::string& field) {
  if (!j.is_boolean()) Fail("\"" + field + "\": true or false was expected");
  return j.get<bool>();
}

void CheckMembers(const json& j, const std::string& what,
                  std::initializer_list<const char*> known) {
  if (!j.is_object()) Fail(what + ": an object was expected");
  for (const auto& item : j.items()) {
    // A misspelt member would otherwise leave a default the author did not mean.
    if (std::none_of(known.begin(), known.end(), [&](const char* k) { return item.key() == k; }))
      Fail(what + ": unknown member \"" + item.key() + "\"");
  }
}

CardReaderDesc ParseReader(const json& j, std::size_t index) {
  const std::string where = "cardReaders[" + std::to_string(index) + "]";
  CheckMembers(j, where, {"name", "kind", "connected"});
  CardReaderDesc r;
  if (!j.contains("name")) Fail(where + ": \"name\" is missing");
  r.name = Text(j["name"], where + ".name");
  if (r.name.empty()) Fail(where + ": the name is empty");
  if (j.contains("kind")) {
    const std::wstring kind = Text(j["kind"], where + ".kind");
    if (kind == L"multiplexing") {
      r.kind = ReaderKind::Multiplexing;
    } else if (kind == L"contact") {
      r.kind = ReaderKind::Contact;
    } else {
      Fail(where + ".kind: \"" + WideToUtf8(kind) + "\" is neither multiplexing nor contact");
    }
  }
  if (j.contains("connected")) r.connected = Flag(j["connected"], where + ".connected");
  return r;
}

CardDesc ParseCard(const json& j, std::size_t index) {
  const std::string where = "cards[" + std::to_string(index) + "]";
  CheckMembers(j, where,
               {"name", "type", "id", "owner", "reader", "site", "generation", "description"});
  CardDesc c;
  if (!j.contains("type")) Fail(where + ": \"type\" is missing");
  if (!j.contains("id")) Fail(where + ": \"id\" is missing");
  c.type = Number(j["type"], where + ".type");
  // Type 0 is how the card information says "no card".
  if (c.type == 0) Fail(where + ".type: 0 is no card");
  c.id = Number(j["id"], where + ".id");
  c.name = j.contains("name") ? Text(j["name"], where + ".name") : std::to_wstring(c.id);
  if (c.name.empty()) Fail(where + ": the name is empty");
  if (j.contains("owner")) c.owner = Text(j["owner"], where + ".owner");
  if (j.contains("reader") && !j["reader"].is_null())
    c.reader = Text(j["reader"], where + ".reader");
  if (j.contains("site")) c.site = Number(j["site"], where + ".site");
  if (j.contains("generation")) c.generation = Number(j["generation"], where + ".generation");
  if (j.contains("description")) c.description = Text(j["description"], where + ".description");
  return c;
}

}  // namespace

CardsDescription CardsDescription::FromJson(const std::string& text) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    Fail(std::string("not JSON: ") + e.what());
  }
  if (!j.is_object()) Fail("the description is a JSON object");
  CardsDescription d;
  if (j.contains("cardReaders")) {
    if (!j["cardReaders"].is_array()) Fail("\"cardReaders\": an array was expected");
    for (const auto& jr : j["cardReaders"]) {
      CardReaderDesc r = ParseReader(jr, d.readers.size());
      for (const auto& other : d.readers)
        if (EqualNoCase(other.name, r.name))
          Fail("cardReaders: \"" + WideToUtf8(r.name) + "\" is described twice");
      d.readers.push_back(std::move(r));
    }
  }
  if (j.contains("cards")) {
    if (!j["cards"].is_array()) Fail("\"cards\": an array was expected");
    for (const auto& jc : j["cards"]) {
      CardDesc c = ParseCard(jc, d.cards.size());
      const std::string where = "cards[" + std::to_string(d.cards.size()) + "]";
      for (const auto& other : d.cards) {
        if (EqualNoCase(other.name, c.name))
          Fail(where + ": a card named \"" + WideToUtf8(c.name) + "\" is described already");
        if (!c.reader.empty() && EqualNoCase(other.reader, c.reader))
          Fail(where + ": reader \"" + WideToUtf8(c.reader) + "\" holds a card already");
      }
      if (!c.reader.empty() &&
          std::none_of(d.readers.begin(), d.readers.end(),
                       [&](const CardReaderDesc& r) { return EqualNoCase(r.name, c.reader); }))
        Fail(where + ": no reader \"" + WideToUtf8(c.reader) + "\" in cardReaders");
      d.cards.push_back(std::move(c));
    }
  }
  return d;
}

ULONGLONG CardCredential(DWORD cardType) {
  switch (cardType) {
    case 1:
      return VDFP_CRED_SMARTCARD;
    case 2:
    case 8:
      return VDFP_CRED_CONTACTLESS;
    case 4:
      return VDFP_CRED_PROXIMITY;
    default:
      return 0;
  }
}

std::wstring CardTypeText(DWORD cardType) {
  switch (cardType) {
    case 1:
      return L"Smartcard";
    case 2:
      return L"Contactless";
    case 4:
      return L"Proximity";
    case 8:
      return L"NFC";
    default:
      return L"Card type " + std::to_wstring(cardType);
  }
}

}  // namespace vdsc_standin
