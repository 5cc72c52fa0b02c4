// Fuzzes the CUE sheet parser with its layout, and the table-of-contents
// answer parser with the disc model. The first byte chooses: even bytes feed a
// CUE sheet, odd bytes a READ TOC reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drive/DiscModel.h"
#include "drive/virtual/CueImage.h"
#include "records/CueSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sonarvex;
  if (size < 1) return 0;
  const bool toc = data[0] & 1;
  ++data;
  --size;
  if (!toc) {
    std::string error;
    auto sheet = ParseCueSheet(std::string_view(reinterpret_cast<const char*>(data), size), &error);
    if (sheet) {
      std::vector<std::uint64_t> sizes;
      for (std::size_t i = 0; i < sheet->files.size(); ++i)
        sizes.push_back((i * 7919u + size) * 2352u + (size % 3) * 1000u);
      auto layout = LayoutCueSheet(*sheet, sizes, &error);
      if (layout)
        for (const auto& t : layout->tracks)
          if (t.sectors < 0 || t.startLba < 0) __builtin_trap();
    }
    return 0;
  }
  const auto parsed = ParseTocAnswer(data, size);
  const DiscToc table = parsed ? *parsed : DiscToc{};
  AlbumRecord album{};
  const int n = FillTracksFromToc(table, album, false);
  if (n < 0 || n > 99) __builtin_trap();
  auto rows = BuildTrackRows(album, n);
  (void)TimePanelText(album, n);
  (void)CddbDiscId(table);
  return 0;
}
