#include "rip/SecureReader.h"

#include <algorithm>
#include <cstring>

namespace sonarvex {
namespace {

constexpr std::size_t kSector = kBytesPerSector;
constexpr std::size_t kPointers = kBytesPerSector / 8;

bool AnySet(const std::uint8_t* pointers) {
  return std::any_of(pointers, pointers + kPointers, [](std::uint8_t b) { return b != 0; });
}

}  // namespace

SecureReader::SecureReader(RipDrive& drive, Options options)
    : drive_(drive), options_(options), useC2_(options.c2 && drive.HasC2()) {
  if (options_.rereads < 0) options_.rereads = 0;
}

bool SecureReader::Read(std::uint8_t* buffer, std::uint8_t* c2, std::uint32_t lba,
                        std::uint32_t count) {
  if (useC2_) return drive_.ReadCddaC2(buffer, c2, lba, count);
  std::fill(c2, c2 + count * kPointers, std::uint8_t{0});
  return drive_.ReadCdda(buffer, lba, count);
}

void SecureReader::DefeatCache(std::uint32_t lba, std::uint32_t count) {
  const std::uint32_t end = drive_.AudioEnd();
  const std::uint32_t distance = options_.cacheDistance;
  std::uint32_t target;
  if (end == 0 || static_cast<std::uint64_t>(lba) + count + distance < end)
    target = lba + count + distance;
  else if (lba >= distance)
    target = lba - distance;
  else
    // A short disc: the sector farthest from the block.
    target = lba >= end - std::min(end, lba + count) ? 0 : end - 1;
  far_.resize(kSector);
  c2Far_.resize(kPointers);
  // Its audio is not used, nor whether it could be read.
  Read(far_.data(), c2Far_.data(), target, 1);
}

SecureReadResult SecureReader::ReadBlock(std::uint8_t* buffer, std::uint32_t lba,
                                         std::uint32_t count) {
  SecureReadResult result;
  second_.resize(count * kSector);
  c2First_.resize(count * kPointers);
  c2Second_.resize(count * kPointers);
  if (!Read(buffer, c2First_.data(), lba, count)) {
    result.ok = false;
    return result;
  }
  DefeatCache(lba, count);
  if (!Read(second_.data(), c2Second_.data(), lba, count)) {
    result.ok = false;
    return result;
  }

  // Per sector that disagrees: its reads so far that the drive did not flag.
  struct Pending {
    std::uint32_t index;
    std::vector<std::vector<std::uint8_t>> clean;
  };
  std::vector<Pending> pending;
  for (std::uint32_t k = 0; k < count; ++k) {
    const std::uint8_t* a = buffer + k * kSector;
    const std::uint8_t* b = second_.data() + k * kSector;
    const bool flaggedA = AnySet(c2First_.data() + k * kPointers);
    const bool flaggedB = AnySet(c2Second_.data() + k * kPointers);
    if (!flaggedA && !flaggedB && std::memcmp(a, b, kSector) == 0) continue;
    Pending p{k, {}};
    if (!flaggedA) p.clean.emplace_back(a, a + kSector);
    if (!flaggedB) p.clean.emplace_back(b, b + kSector);
    // Until something better comes, the sector holds its later read.
    std::memcpy(buffer + k * kSector, b, kSector);
    pending.push_back(std::move(p));
  }
  result.reread = static_cast<int>(pending.size());

  // Rounds of single-sector reads of what still disagrees, each round after
  // the cache has been read away.
  one_.resize(kSector);
  c2One_.resize(kPointers);
  for (int round = 0; round < options_.rereads && !pending.empty(); ++round) {
    if (keepGoing_ && !keepGoing_()) {
      result.cancelled = true;
      break;
    }
    DefeatCache(lba, count);
    for (auto it = pending.begin(); it != pending.end();) {
      const std::uint32_t sector = lba + it->index;
      bool agreed = false;
      if (Read(one_.data(), c2One_.data(), sector, 1)) {
        std::memcpy(buffer + it->index * kSector, one_.data(), kSector);
        if (!AnySet(c2One_.data())) {
          for (const auto& earlier : it->clean)
            if (std::memcmp(earlier.data(), one_.data(), kSector) == 0) agreed = true;
          if (!agreed) it->clean.push_back(one_);
        }
      }
      it = agreed ? pending.erase(it) : it + 1;
    }
  }
  for (const Pending& p : pending) result.suspect.push_back(lba + p.index);
  return result;
}

}  // namespace sonarvex
