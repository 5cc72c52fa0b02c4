// A small INI file store ("[section]" and "key=value" lines). It stands in
// for the few registry values the program keeps (the main window placement).
#pragma once

#include <map>
#include <optional>
#include <string>

namespace sonarvex {

class IniStore {
 public:
  explicit IniStore(std::string path) : path_(std::move(path)) {}

  // Reads the file; a missing or unreadable file gives an empty store.
  void Load();
  // Writes it back atomically; false when that fails.
  bool Save() const;

  bool Has(const std::string& section, const std::string& key) const;
  std::optional<std::string> Get(const std::string& section, const std::string& key) const;
  std::optional<long long> GetInt(const std::string& section, const std::string& key) const;
  void Set(const std::string& section, const std::string& key, const std::string& value);
  void SetInt(const std::string& section, const std::string& key, long long value);
  void Remove(const std::string& section, const std::string& key);

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

}  // namespace sonarvex
