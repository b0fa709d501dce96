#include "tools/demo-directory/directory_data.h"

#include <algorithm>
#include <array>
#include <random>

#include <nlohmann/json.hpp>

namespace orgkat {
namespace {

using Json = nlohmann::ordered_json;

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

constexpr std::array kKinds{"ГБОУ", "ГБДОУ", "ЧОУ", "АНО ДО", "ГАОУ", "МБОУ"};
constexpr std::array kNames{"Школа № ",       "Лицей № ",           "Гимназия № ",
                            "Детский сад № ", "Центр образования ", "Колледж № "};
constexpr std::array kStreets{"ул. Ленина",     "Садовая ул.",  "пр-т Мира",
                              "ш. Энтузиастов", "Тверская ул.", "наб. Фонтанки",
                              "ул. Щорса",      "пер. Чистый",  "б-р Яна Райниса"};
constexpr std::array kAreas{"ЦАО", "САО", "СВАО", "ВАО", "ЮВАО", "ЮАО", "ЮЗАО", "ЗАО", "СЗАО"};
constexpr std::array kSurnames{"Иванова", "Петров", "Сидорова", "Кузнецов", "Смирнова",
                               "Попов",   "Ёлкина", "Соколов",  "Михайлова"};
constexpr std::array kInitials{"А. А.", "Б. В.", "Е. Ю.", "И. С.", "Н. Н.", "О. Л."};

// Picks from a table.
template <typename Table>
const char* Pick(std::mt19937_64& rng, const Table& table) {
  return table[rng() % table.size()];
}

bool Chance(std::mt19937_64& rng, int percent) {
  return static_cast<int>(rng() % 100) < percent;
}

std::string PhoneText(std::mt19937_64& rng) {
  const auto n = rng() % 10000000;
  std::string digits = std::to_string(n + 10000000).substr(1);
  return "+7 (495) " + digits.substr(0, 3) + "-" + digits.substr(3, 2) + "-" + digits.substr(5, 2);
}

Json PhoneValue(std::mt19937_64& rng) {
  switch (rng() % 12) {
    case 0:
      return Json{{"phone", 84951234567LL + static_cast<long long>(rng() % 1000)}};
    case 1:
      return Json{{"phone", ""}};
    case 2:
      return Json{{"phone", nullptr}};
    case 3:
      return PhoneText(rng);  // a bare string instead of an object
    default:
      return Json{{"phone", PhoneText(rng)}, {"type", "рабочий"}};
  }
}

Json AddressValue(std::mt19937_64& rng, int number) {
  Json address;
  address["title"] = std::string(" 1") + std::to_string(10000 + number % 90000) + ", г. Москва, " +
                     Pick(rng, kStreets) + ", д. " + std::to_string(1 + rng() % 120) +
                     (Chance(rng, 20) ? ",\r\nстр. 2 " : "");
  Json phones = Json::array();
  const int count = static_cast<int>(rng() % 4);
  for (int i = 0; i < count; ++i) phones.push_back(PhoneValue(rng));
  address["phones"] = phones;
  address["geo"] = {{"lat", 55.75 + static_cast<double>(rng() % 1000) / 10000.0}, {"lon", 37.6125}};
  return address;
}

std::string Title(std::mt19937_64& rng, int number) {
  std::string title =
      std::string(Pick(rng, kKinds)) + " \"" + Pick(rng, kNames) + std::to_string(number) + "\"";
  switch (rng() % 8) {
    case 0:
      return title + "; филиал \"Солнышко\"";
    case 1:
      return title + "\nструктурное подразделение";
    case 2:
      return "  " + title + " ";
    default:
      return title;
  }
}

// Which tenth of the organisations a revision changes in which way.
enum class Fate { Kept, Gone, Altered };

Fate FateOf(int number, int revision) {
  if (revision == 0) return Fate::Kept;
  const int tenth = number % 10;
  if (tenth == revision % 10) return Fate::Gone;
  if (tenth == (revision + 5) % 10) return Fate::Altered;
  return Fate::Kept;
}

// An altered organisation's new e-mail and, for every second one, its new head.
void Alter(Json& record, int number, int revision) {
  record["email"] =
      "office" + std::to_string(number) + ".r" + std::to_string(revision) + "@edu.mos.example";
  if (number % 20 == (revision + 5) % 10)
    record["director"] = "Новикова Р. " + std::to_string(revision) + ".";
}

Json Record(std::uint64_t seed, std::int64_t id, int number) {
  std::mt19937_64 rng(MixHash(seed, static_cast<std::uint64_t>(id), 1));
  Json record;
  record["id"] = id;
  const std::string title = Title(rng, number);
  record["title"] = title;
  if (Chance(rng, 90)) {
    record["title_full"] =
        "Государственное бюджетное образовательное учреждение города Москвы " + title;
  } else {
    record["title_full"] = Chance(rng, 50) ? Json(nullptr) : Json(number);
  }
  if (Chance(rng, 85)) {
    record["director"] = std::string(Pick(rng, kSurnames)) + " " + Pick(rng, kInitials);
  } else if (Chance(rng, 50)) {
    record["director"] = nullptr;
  }
  switch (rng() % 10) {
    case 0: {
      Json others = Json::array();
      const int count = 1 + static_cast<int>(rng() % 3);
      for (int i = 0; i < count; ++i) others.push_back(AddressValue(rng, number + i));
      record["others"] = others;
      break;
    }
    case 1:
      record["others"] = Json::array();
      break;
    case 2:
      record["address"] = nullptr;
      record["others"] = Json::array({AddressValue(rng, number)});
      break;
    default:
      record["address"] = AddressValue(rng, number);
  }
  if (Chance(rng, 85)) {
    record["email"] = "  school" + std::to_string(number) + "@edu.mos.example\t";
  } else if (Chance(rng, 50)) {
    record["email"] = nullptr;
  }
  if (Chance(rng, 80)) record["website"] = "https://sch" + std::to_string(number) + ".example";
  if (Chance(rng, 85)) {
    Json head;
    head["phone"] = Chance(rng, 30) ? Json("Не указано") : Json(PhoneText(rng));
    head["eo_phone"] = Chance(rng, 10) ? Json(4957654321LL) : Json(PhoneText(rng));
    head["email"] = Chance(rng, 80) ? Json("director" + std::to_string(number) + "@example.org")
                                    : Json(nullptr);
    record["current_director"] = head;
  } else if (Chance(rng, 30)) {
    record["current_director"] = nullptr;
  }
  if (Chance(rng, 90)) {
    record["area"] = {{"id", 1 + rng() % 12}, {"name_short", Pick(rng, kAreas)}};
  }
  record["rating"] = static_cast<double>(rng() % 1000) / 100.0;
  return record;
}

}  // namespace

std::uint64_t MixHash(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  return SplitMix(SplitMix(SplitMix(a) ^ b) ^ c);
}

DemoDirectory::DemoDirectory(int count, std::uint64_t seed, int revision)
    : seed_(seed), revision_(revision) {
  // Increasing ids with gaps, as a real directory has after deletions.
  std::int64_t id = 1000 + static_cast<std::int64_t>(MixHash(seed, 0) % 1000);
  const int added = revision == 0 ? 0 : std::max(1, count / 10);
  for (int i = 0; i < count + added; ++i) {
    const int number = 1 + i;
    // The new ones follow the last: the fates are those of the organisations of revision 0.
    const Fate fate = number <= count ? FateOf(number, revision) : Fate::Kept;
    if (fate != Fate::Gone) {
      ids_.push_back(id);
      numbers_.push_back(number);
      altered_.push_back(fate == Fate::Altered);
    }
    id += 1 + static_cast<std::int64_t>(MixHash(seed, static_cast<std::uint64_t>(i), 2) % 5);
  }
}

std::string DemoDirectory::ListBody(std::size_t padding) const {
  Json list = Json::array();
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    std::mt19937_64 rng(MixHash(seed_, static_cast<std::uint64_t>(ids_[i]), 1));
    list.push_back({{"eo_id", ids_[i]},
                    {"title", Title(rng, numbers_[i])},
                    {"is_active", true},
                    {"legal_form", nullptr}});
  }
  Json doc;
  doc["count"] = ids_.size();
  doc["page"] = 1;
  doc["list"] = std::move(list);
  if (padding > 0) doc["padding"] = std::string(padding, ' ');
  return doc.dump();
}

std::optional<std::string> DemoDirectory::RecordBody(std::int64_t id) const {
  const auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
  if (it == ids_.end() || *it != id) return std::nullopt;
  Json doc;
  const auto index = static_cast<std::size_t>(it - ids_.begin());
  doc["list"] = Record(seed_, id, numbers_[index]);
  if (altered_[index]) Alter(doc["list"], numbers_[index], revision_);
  doc["status"] = "ok";
  return doc.dump();
}

}  // namespace orgkat
