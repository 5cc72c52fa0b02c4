#include "platform/IniStore.h"

#include <cstdlib>

#include "platform/Files.h"

namespace sonarvex {
namespace {
std::string Trim(std::string s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}
}  // namespace

void IniStore::Load() {
  sections_.clear();
  auto data = ReadFileBytes(path_, 1 << 20);
  if (!data) return;
  std::string section;
  std::size_t pos = 0;
  while (pos < data->size()) {
    auto nl = data->find('\n', pos);
    std::string line =
        Trim(data->substr(pos, nl == std::string::npos ? std::string::npos : nl - pos));
    pos = nl == std::string::npos ? data->size() : nl + 1;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    sections_[section][Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
  }
}

bool IniStore::Save() const {
  std::string out;
  for (const auto& [name, keys] : sections_) {
    if (keys.empty()) continue;
    out += "[" + name + "]\n";
    for (const auto& [k, v] : keys) out += k + "=" + v + "\n";
  }
  return WriteFileAtomically(path_, out);
}

bool IniStore::Has(const std::string& section, const std::string& key) const {
  return Get(section, key).has_value();
}

std::optional<std::string> IniStore::Get(const std::string& section,
                                         const std::string& key) const {
  auto s = sections_.find(section);
  if (s == sections_.end()) return std::nullopt;
  auto k = s->second.find(key);
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

std::optional<long long> IniStore::GetInt(const std::string& section,
                                          const std::string& key) const {
  auto v = Get(section, key);
  if (!v || v->empty()) return std::nullopt;
  char* end = nullptr;
  long long n = std::strtoll(v->c_str(), &end, 10);
  if (end == v->c_str() || *end != '\0') return std::nullopt;
  return n;
}

void IniStore::Set(const std::string& section, const std::string& key, const std::string& value) {
  sections_[section][key] = value;
}

void IniStore::SetInt(const std::string& section, const std::string& key, long long value) {
  Set(section, key, std::to_string(value));
}

void IniStore::Remove(const std::string& section, const std::string& key) {
  auto s = sections_.find(section);
  if (s != sections_.end()) s->second.erase(key);
}

}  // namespace sonarvex
