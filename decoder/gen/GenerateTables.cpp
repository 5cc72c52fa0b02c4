// Turns the published MPEG audio tables (Huffman codes, synthesis window,
// Layer II allocation tables) into the C++ source the decoder is built from.
//
//   kelpra_gentables TABLES_DIR OUT.cpp
//
// TABLES_DIR holds `huffcode`, `dewindow` and `alloc_0` .. `alloc_4`.
// The Huffman codes become multi-level look-up tables of 16-bit entries:
//   leaf:  bit 15 clear, bits 8..11 = code bits used at this level,
//          bits 0..7 = value (x << 4 | y, or the packed vwxy of a count-1 table),
//          bits 12..14 = number of non-zero values (the sign bits that follow)
//   node:  bit 15 set, bits 12..14 = index bits of the sub-table (1..7),
//          bits 0..11 = offset of the sub-table from the table's start.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Code {
  int value;
  int len;
  unsigned bits;  // right-aligned code word
  int quad;       // 1 in the count-1 tables
};

struct HuffSource {
  int number = -1;
  int xlen = 0;
  int linbits = 0;
  int reference = -1;
  std::vector<Code> codes;
};

[[noreturn]] void Fail(const std::string& what) {
  std::cerr << "kelpra_gentables: " << what << "\n";
  std::exit(1);
}

std::vector<HuffSource> ReadHuffcode(const std::string& path) {
  std::ifstream in(path);
  if (!in) Fail("cannot read " + path);
  std::vector<HuffSource> tables;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::string first;
    if (!(ls >> first)) continue;
    if (first == ".end") break;
    if (first == ".table") {
      HuffSource t;
      int ylen = 0;
      ls >> t.number >> t.xlen >> ylen >> t.linbits;
      tables.push_back(t);
      continue;
    }
    if (first == ".reference" || first == ".referenz") {
      if (tables.empty()) Fail("reference before table");
      ls >> tables.back().reference;
      continue;
    }
    if (tables.empty()) continue;
    HuffSource& t = tables.back();
    const bool quad = t.number >= 32;
    Code c{};
    c.quad = quad ? 1 : 0;
    std::string word;
    if (quad) {
      c.value = std::stoi(first);
      ls >> c.len >> word;
    } else {
      int y = 0;
      ls >> y >> c.len >> word;
      c.value = (std::stoi(first) << 4) | y;
    }
    if (static_cast<int>(word.size()) != c.len || c.len < 1 || c.len > 19)
      Fail("bad code in table " + std::to_string(t.number) + ": " + line);
    c.bits = 0;
    for (char ch : word) c.bits = (c.bits << 1) | (ch == '1' ? 1u : 0u);
    t.codes.push_back(c);
  }
  if (tables.size() != 34) Fail("expected 34 Huffman tables");
  return tables;
}

// Number of non-zero values a code word stands for: x and y of a pair (the
// value holds x << 4 | y), the four bits of a count-1 quadruple.
int NonZero(const Code& c) {
  if (c.quad) return __builtin_popcount(unsigned(c.value));
  return ((c.value >> 4) != 0) + ((c.value & 15) != 0);
}

// Builds the look-up table for `codes` at `prefixLen` bits of prefix already
// consumed; appends to `out` and returns the start offset.
class LutBuilder {
 public:
  explicit LutBuilder(std::vector<uint16_t>& out) : out_(out) {}

  int Build(const std::vector<Code>& codes, int rootBits) {
    const int start = static_cast<int>(out_.size());
    BuildLevel(codes, 0, rootBits, start);
    return start;
  }

 private:
  // `codes` all share the `consumed` leading bits already resolved.
  int BuildLevel(const std::vector<Code>& codes, int consumed, int bits, int tableStart) {
    const int base = static_cast<int>(out_.size());
    const int size = 1 << bits;
    out_.resize(base + size, 0);
    // Fill: unmatched prefixes become a zero value using all index bits.
    for (int i = 0; i < size; ++i) out_[base + i] = static_cast<uint16_t>((bits << 8) | 0);
    std::map<int, std::vector<Code>> longer;
    for (const Code& c : codes) {
      const int rest = c.len - consumed;
      const unsigned restBits = c.bits & ((1u << rest) - 1u);
      if (rest <= bits) {
        const int idx = static_cast<int>(restBits << (bits - rest));
        for (int k = 0; k < (1 << (bits - rest)); ++k)
          out_[base + idx + k] = static_cast<uint16_t>((NonZero(c) << 12) | (rest << 8) | c.value);
      } else {
        longer[static_cast<int>(restBits >> (rest - bits))].push_back(c);
      }
    }
    for (auto& [idx, group] : longer) {
      int maxRest = 0;
      for (const Code& c : group) maxRest = std::max(maxRest, c.len - consumed - bits);
      const int sub = std::min(maxRest, 7);
      const int off = BuildLevel(group, consumed + bits, sub, tableStart);
      const int rel = off - tableStart;
      if (rel > 4095) Fail("sub-table offset too large");
      out_[base + idx] = static_cast<uint16_t>(0x8000 | (sub << 12) | rel);
    }
    return base;
  }

  std::vector<uint16_t>& out_;
};

std::vector<double> ReadDewindow(const std::string& path) {
  std::ifstream in(path);
  if (!in) Fail("cannot read " + path);
  std::vector<double> d(512, 0.0);
  std::vector<bool> seen(512, false);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = 0;
  while ((pos = text.find("D[", pos)) != std::string::npos) {
    pos += 2;
    const int index = std::atoi(text.c_str() + pos);
    const size_t eq = text.find('=', pos);
    if (eq == std::string::npos) Fail("bad dewindow entry");
    if (index < 0 || index >= 512) Fail("dewindow index out of range");
    d[index] = std::strtod(text.c_str() + eq + 1, nullptr);
    seen[index] = true;
    pos = eq + 1;
  }
  for (int i = 0; i < 512; ++i)
    if (!seen[i]) Fail("dewindow entry missing: " + std::to_string(i));
  return d;
}

struct AllocRow {
  int sb, index, steps, bits, group, quant;
};

std::vector<AllocRow> ReadAlloc(const std::string& path, int& sblimit) {
  std::ifstream in(path);
  if (!in) Fail("cannot read " + path);
  if (!(in >> sblimit)) Fail("no sblimit in " + path);
  std::vector<AllocRow> rows;
  AllocRow r{};
  while (in >> r.sb >> r.index >> r.steps >> r.bits >> r.group >> r.quant) rows.push_back(r);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: kelpra_gentables TABLES_DIR OUT.cpp\n";
    return 2;
  }
  const std::string dir = argv[1];
  std::ostringstream o;
  o << "// Generated by decoder/gen/GenerateTables.cpp from the published MPEG audio\n"
       "// tables. Do not edit; run the kelpra_regen_tables target instead.\n"
       "#include \"Tables.h\"\n\nnamespace kelpra {\n\n";

  // Huffman tables.
  const std::vector<HuffSource> src = ReadHuffcode(dir + "/huffcode");
  std::vector<uint16_t> lut;
  LutBuilder builder(lut);
  struct Out {
    int offset = 0, root = 0, linbits = 0, present = 0;
  };
  std::vector<Out> outs(34);
  std::map<int, Out> built;
  for (const HuffSource& t : src) {
    if (t.number < 0 || t.number >= 34) Fail("bad table number");
    Out& r = outs[t.number];
    r.linbits = t.linbits;
    const HuffSource* codes = &t;
    if (t.reference >= 0) {
      if (!built.count(t.reference)) Fail("reference to a table not yet built");
      r.offset = built[t.reference].offset;
      r.root = built[t.reference].root;
      r.present = 1;
      continue;
    }
    if (codes->codes.empty()) continue;  // tables 0, 4, 14
    int maxLen = 0;
    for (const Code& c : codes->codes) maxLen = std::max(maxLen, c.len);
    // Root tables of up to 10 bits: nearly every code word of the big-value
    // tables resolves with one look-up.
    r.root = std::min(maxLen, t.number >= 32 ? 6 : 10);
    r.offset = builder.Build(codes->codes, r.root);
    r.present = 1;
    built[t.number] = r;
  }
  o << "const uint16_t kHuffLut[" << lut.size() << "] = {";
  for (size_t i = 0; i < lut.size(); ++i) {
    if (i % 12 == 0) o << "\n   ";
    o << " 0x" << std::hex << lut[i] << std::dec << ",";
  }
  o << "\n};\n\n";
  o << "const HuffTable kHuffTables[34] = {\n";
  for (int i = 0; i < 34; ++i)
    o << "    {" << outs[i].offset << ", " << outs[i].root << ", " << outs[i].linbits << ", "
      << outs[i].present << "},  // " << i << "\n";
  o << "};\n\n";

  // Synthesis window.
  const std::vector<double> d = ReadDewindow(dir + "/dewindow");
  o << "const double kDewindow[512] = {";
  for (int i = 0; i < 512; ++i) {
    if (i % 6 == 0) o << "\n   ";
    char buf[40];
    std::snprintf(buf, sizeof buf, " %.9f,", d[i]);
    o << buf;
  }
  o << "\n};\n\n";

  // Layer II allocation tables.
  o << "const AllocTable kAllocTables[5] = {\n";
  for (int t = 0; t < 5; ++t) {
    int sblimit = 0;
    const std::vector<AllocRow> rows = ReadAlloc(dir + "/alloc_" + std::to_string(t), sblimit);
    if (sblimit < 1 || sblimit > 32) Fail("bad sblimit");
    std::vector<int> nbal(32, 0);
    std::vector<std::vector<AllocRow>> per(32, std::vector<AllocRow>(16, AllocRow{0, 0, 0, 0, 0, 0}));
    for (const AllocRow& r : rows) {
      if (r.sb < 0 || r.sb >= sblimit || r.index < 0 || r.index >= 16) Fail("bad alloc row");
      if (r.index == 0) nbal[r.sb] = r.bits;
      else per[r.sb][r.index] = r;
    }
    o << "    {" << sblimit << ",\n     {";
    for (int sb = 0; sb < 32; ++sb) o << nbal[sb] << (sb < 31 ? ", " : "");
    o << "},\n     {\n";
    for (int sb = 0; sb < 32; ++sb) {
      o << "      {";
      for (int i = 0; i < 16; ++i) {
        const AllocRow& r = per[sb][i];
        o << "{" << r.steps << ", " << r.bits << ", " << (r.group == 1 ? 1 : 0) << ", " << r.quant
          << "}" << (i < 15 ? ", " : "");
      }
      o << "},\n";
    }
    o << "     }},\n";
  }
  o << "};\n\n}  // namespace kelpra\n";

  std::ofstream out(argv[2], std::ios::binary);
  out << o.str();
  if (!out) Fail(std::string("cannot write ") + argv[2]);
  return 0;
}
