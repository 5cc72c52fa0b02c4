#include "settings/ProfileCommands.h"

#include <unistd.h>

#include "platform/Cp1251.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"

namespace sonarvex {
namespace {
constexpr const char* kTooManyProfiles = "Нельзя создать больше 10 конфигураций.";
constexpr const char* kNameLabel = "Введите название конфигурации";
constexpr const char* kReplaceQuestion = "Данная конфигурация уже существует. Заменить?";
constexpr const char* kDeleteLabel = "Что удалять будем?";
constexpr const char* kListWriteFailed = "Не удалось записать список конфигураций 'prof.lst'.";
constexpr const char* kSuffix = ".prof";

// A profile name as names are compared: without regard to case where CP1251
// holds it (Latin and Cyrillic), else as it stands.
std::string FoldedName(const std::string& utf8) {
  const std::string cp = Utf8ToCp1251(utf8);
  if (Cp1251ToUtf8(cp) == utf8) return "c" + Cp1251Lower(cp);
  return "u" + utf8;
}
}  // namespace

ProfileCommands::ProfileCommands(ProfileList& list, std::string settingFolder, Dialogs& dialogs,
                                 ProfileChooser& chooser, ProfileHost& host)
    : list_(list),
      folder_(std::move(settingFolder)),
      dialogs_(dialogs),
      chooser_(chooser),
      host_(host) {
  RebuildMenu();
}

std::string ProfileCommands::CheckProfileName(const std::string& name) {
  for (unsigned char c : name) {
    if (c < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return "Название конфигурации не может содержать символы \\ / : * ? \" < > |";
  }
  if (name.front() == '.') return "Название конфигурации не может начинаться с точки.";
  if (name.size() + std::string_view(kSuffix).size() > 255)
    return "Слишком длинное название конфигурации.";
  return {};
}

void ProfileCommands::RebuildMenu() {
  menu_[0] = ProfileMenuItem{"ProfDef", -1, "&Default", true, list_.Active() < 0};
  for (int k = 0; k < ProfileList::kMaxProfiles; ++k) {
    ProfileMenuItem& item = menu_[k + 1];
    item.Name = "Prof" + std::to_string(k + 1);
    item.Tag = k;
    item.Visible = k < list_.ProfileCount();
    item.Caption = item.Visible ? ProfileList::LineText(list_.Caption(k)) : std::string();
    item.Checked = list_.Active() == k;
  }
  host_.ShowProfileMenu(menu_);
}

void ProfileCommands::LoadProfiles() {
  list_.Load(folder_);
  RebuildMenu();
  host_.LoadSettings(list_.ActiveFileName());
}

void ProfileCommands::Pick(int tag) {
  if (tag < -1 || tag >= list_.ProfileCount()) return;
  if (host_.State() != WindowState::Idle) host_.Stop();
  list_.SetActive(tag);
  host_.LoadSettings(list_.ActiveFileName());
  RebuildMenu();
}

bool ProfileCommands::SaveActiveProfile() {
  list_.SetActive(list_.Active());
  return host_.SaveSettings(list_.ActiveFileName());
}

bool ProfileCommands::Save() {
  if (list_.ProfileCount() >= ProfileList::kMaxProfiles) {
    dialogs_.Message(kTooManyProfiles, kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
    return false;
  }
  std::vector<std::string> names;
  for (int k = 0; k < list_.ProfileCount(); ++k) names.push_back(ProfileList::LineText(list_.Caption(k)));

  std::string name;
  int existing = -1;
  for (;;) {
    ChooserRequest req;
    req.Label = kNameLabel;
    req.Editable = true;
    req.Items = names;
    req.Text = name;
    auto answer = chooser_.Choose(req);
    if (!answer) return false;
    name = answer->Text;
    if (name.empty()) return false;
    if (std::string why = CheckProfileName(name); !why.empty()) {
      dialogs_.Message(why, kProgramTitle, MsgIcon::Information, MsgButtons::Ok);
      continue;
    }
    const std::string wanted = FoldedName(name + kSuffix);
    existing = -1;
    for (int k = 0; k < list_.ProfileCount(); ++k)
      if (FoldedName(ProfileList::LineText(list_.FileName(k))) == wanted) existing = k;
    if (existing < 0) break;
    if (dialogs_.Message(kReplaceQuestion, kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) ==
        IdYes)
      break;
  }

  const std::vector<std::string> oldLines = list_.Lines();
  const int oldActive = list_.Active();
  const std::string line = ProfileList::LineOf(name + kSuffix);
  int index;
  if (existing < 0) {
    list_.MutableLines().push_back(line);
    index = list_.ProfileCount() - 1;
  } else {
    list_.MutableLines()[static_cast<std::size_t>(existing) + 1] = line;
    index = existing;
  }
  list_.SetActive(index);
  RebuildMenu();
  if (!SaveActiveProfile()) {
    // The profile file could not be written: the list goes back to what it
    // was, so that it never names a profile whose settings are missing.
    list_.MutableLines() = oldLines;
    list_.SetActive(oldActive);
    if (MakeDirectories(folder_)) list_.Save(folder_);
    RebuildMenu();
    return false;
  }
  return true;
}

bool ProfileCommands::Delete() {
  if (list_.ProfileCount() == 0) return false;
  ChooserRequest req;
  req.Label = kDeleteLabel;
  for (int k = 0; k < list_.ProfileCount(); ++k)
    req.Items.push_back(ProfileList::LineText(list_.FileName(k)));
  req.Index = 0;
  auto answer = chooser_.Choose(req);
  if (!answer) return false;
  const int k = answer->Index;
  if (k < 0 || k >= list_.ProfileCount()) return false;
  const std::string fileUtf8 = ProfileList::LineText(list_.FileName(k));
  if (dialogs_.Message("Вы хотите удалить '" + fileUtf8 + "' ???", kProgramTitle, MsgIcon::Question,
                       MsgButtons::YesNo) != IdYes)
    return false;

  const std::vector<std::string> oldLines = list_.Lines();
  const int oldActive = list_.Active();
  const bool deletingActive = oldActive == k;
  const std::string diskName = list_.DiskFileName(k);
  const bool removable = ProfileList::IsUsableFileName(list_.FileName(k));
  if (deletingActive)
    list_.SetActive(-1);  // the default settings take over; nothing is saved
  else if (oldActive > k)
    list_.SetActive(oldActive - 1);
  list_.MutableLines().erase(list_.MutableLines().begin() + k + 1);

  // The list is written before the file goes, so that it never names a
  // deleted profile.
  if (!MakeDirectories(folder_) || !list_.Save(folder_)) {
    list_.MutableLines() = oldLines;
    list_.SetActive(oldActive);
    dialogs_.Message(kListWriteFailed, kProgramTitle, MsgIcon::Warning, MsgButtons::Ok);
    return false;
  }
  if (removable) ::unlink(JoinPath(folder_, diskName).c_str());
  if (!deletingActive) SaveActiveProfile();
  LoadProfiles();
  return true;
}

}  // namespace sonarvex
