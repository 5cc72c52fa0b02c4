// The INI store: any bytes as its file. The program's own values are asked
// for, and what the store writes back must load to the same store: writing
// it twice gives the same bytes, and a value asked for by name survives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "platform/IniStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  const std::string path = fuzz::PrivateFolder() + "store.ini";
  const std::string text(reinterpret_cast<const char*>(data), size);
  fuzz::WriteInput(path, text);

  IniStore store(path);
  store.Load();
  for (const char* key : {"Top", "Left", "Width", "Height"}) (void)store.GetInt("Sonarvex", key);
  (void)store.Get("AudioCD", "LastPlayer");

  // The first section and the first key named in the input, asked for as
  // they are written there.
  std::string section, key;
  if (auto open = text.find('['); open != std::string::npos) {
    auto close = text.find(']', open);
    if (close != std::string::npos) section = text.substr(open + 1, close - open - 1);
  }
  if (auto eq = text.find('='); eq != std::string::npos) {
    auto nl = text.rfind('\n', eq);
    const std::size_t start = nl == std::string::npos ? 0 : nl + 1;
    key = text.substr(start, eq - start);
  }
  const auto asked = store.Get(section, key);
  (void)store.GetInt(section, key);

  if (!store.Save()) __builtin_trap();
  const std::string once = fuzz::ReadAll(path);
  IniStore again(path);
  again.Load();
  if (again.Get(section, key) != asked) __builtin_trap();
  if (!again.Save()) __builtin_trap();
  if (fuzz::ReadAll(path) != once) __builtin_trap();

  // The program's own writes read back as written.
  again.Remove(section, key);
  again.SetInt("Sonarvex", "Top", -42);
  if (!again.Save()) __builtin_trap();
  IniStore third(path);
  third.Load();
  if (third.GetInt("Sonarvex", "Top") != -42) __builtin_trap();
  if (section != "Sonarvex" || key != "Top")
    if (third.Has(section, key)) __builtin_trap();
  return 0;
}
