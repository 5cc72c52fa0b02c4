// The lookup's match chooser shown as a TChoseForm over the main window.
// Escape or the close box answer -1: nothing is chosen.
#pragma once

#include "metadata/CddbLookup.h"
#include "metadata/ui/UiHelpers.h"

class QWidget;

namespace sonarvex {

class ChoseFormChooser : public MatchChooser {
 public:
  explicit ChoseFormChooser(QWidget* owner, const FormColors& colors = {})
      : owner_(owner), colors_(colors) {}
  int Choose(const std::vector<std::string>& titles) override;

 private:
  QWidget* owner_;
  FormColors colors_;
};

}  // namespace sonarvex
