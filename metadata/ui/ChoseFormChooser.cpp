#include "metadata/ui/ChoseFormChooser.h"

#include "metadata/ui/TChoseForm.h"
#include "platform/ui/QtText.h"

namespace sonarvex {

int ChoseFormChooser::Choose(const std::vector<std::string>& titles) {
  TChoseForm form(owner_, colors_);
  for (const std::string& t : titles) form.AddItem(Q(t));
  form.SetItemIndex(0);
  // Leaving the list without choosing keeps the disc as it is.
  form.SetCancellable(true);
  if (form.exec() != QDialog::Accepted || form.Cancelled()) return -1;
  int index = form.ItemIndex();
  return index < 0 ? 0 : index;
}

}  // namespace sonarvex
