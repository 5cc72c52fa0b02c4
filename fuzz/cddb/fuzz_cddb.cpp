// The CDDB query-response parser: status code, match lines, the table of 100.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "metadata/CddbClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  sonarvex::CddbQueryTable table;
  int overflow = 0;
  sonarvex::QueryAnswer answer =
      sonarvex::ParseQueryResponse(text, table, [&] { ++overflow; });
  if (table.count < 0 || table.count > sonarvex::kCddbMaxMatches) __builtin_trap();
  if (answer == sonarvex::QueryAnswer::Matches && table.count == 0) __builtin_trap();
  if (overflow > 0 && table.count != sonarvex::kCddbMaxMatches) __builtin_trap();
  (void)sonarvex::ResponseStatusCode(text);
  sonarvex::CDDBQueryResult match;
  (void)sonarvex::ParseMatchLine(text, match);
  return 0;
}
