// Where the lookup finds a disc's titles: a source answers a query with the
// entries that match the disc, and applies the one the user chose to the
// album record, its track titles and tags. The lookup (CddbLookup) drives it:
// query, choose, apply, then it stores the album itself. CDDB is the source
// today; another database sits behind the same interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "metadata/DiscId.h"

namespace sonarvex {

class MetadataSource {
 public:
  enum class Answer {
    SendFailed,  // the request could not be sent
    Failed,      // no answer (no connection, time-out, an error status)
    NoMatch,     // answered: nothing known about the disc
    Matches,     // one or more entries
  };
  virtual ~MetadataSource() = default;
  // The entries matching the disc; titles: one per entry, UTF-8, in the
  // source's order.
  virtual Answer Query(const CddbTocTable& toc, std::uint32_t discId,
                       std::vector<std::string>& titles) = 0;
  // Reads entry index of the last query into the album; false when it could
  // not be read (the reason says why).
  virtual bool Apply(int index) = 0;
  // Why the last step failed (UTF-8, names the server); empty when it did not.
  virtual std::string FailureReason() const = 0;
};

}  // namespace sonarvex
