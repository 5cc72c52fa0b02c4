// The chooser, the tag editor and the album database editor, driven as a user
// would (offscreen), with scripted message boxes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "LoopbackServer.h"
#include "TempFolder.h"
#include "records/SettingsRecord.h"
#include "metadata/AlbumDatabase.h"
#include "metadata/AlbumView.h"
#include "metadata/ui/ChoseFormChooser.h"
#include "metadata/CddbLookup.h"
#include "metadata/Genres.h"
#include "metadata/ui/LinkLabel.h"
#include "metadata/ui/TCDDBEditForm.h"
#include "metadata/ui/TChoseForm.h"
#include "metadata/ui/TID3Form.h"
#include "platform/Cp1251.h"
#include "platform/Files.h"
#include "platform/ui/QtText.h"
#include "platform/ScriptedDialogs.h"
#include "records/TextFields.h"

namespace sonarvex {
namespace {

using test::TempFolder;

template <typename T>
T* Find(QWidget* w, const char* name) {
  T* c = w->findChild<T*>(name);
  EXPECT_NE(c, nullptr) << name;
  return c;
}

// Runs f on the modal window once it is up.
void WhenModal(std::function<void(QWidget*)> f) {
  QTimer::singleShot(0, [f] {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) {
      ADD_FAILURE() << "no modal window";
      return;
    }
    f(w);
  });
}

struct View : AlbumView {
  std::string album, artist;
  std::map<int, std::string> rows;
  void SetAlbumName(const std::string& t) override { album = t; }
  void SetArtist(const std::string& t) override { artist = t; }
  void SetTrackCaption(int row, const std::string& t) override { rows[row] = t; }
};

AlbumRecord NamedDisc(int tracks = 3) {
  AlbumRecord a{};
  a.TrackCount = static_cast<std::uint8_t>(tracks);
  SetFieldUtf8(a.Artist, "Кино");
  SetFieldUtf8(a.AlbumTitle, "Группа крови");
  SetField(a.Year, "1988");
  SetField(a.Genre, "Rock");
  for (int i = 0; i < tracks; ++i) {
    SetFieldUtf8(a.Tracks[i].Title, "Песня " + std::to_string(i + 1));
    a.Tracks[i].Length = {4, 0, 0};
    a.Tracks[i].Size = 18000 * 2352;
    a.Tracks[i].AudioFlag = 1;
  }
  return a;
}

// --- TChoseForm ---

TEST(ChoseForm, EnterAndEscapeYieldTheSelection) {
  TChoseForm form(nullptr);
  EXPECT_EQ(Find<QLabel>(&form, "Label1")->text(), QString::fromUtf8("Выбирете верные данные"));
  EXPECT_EQ(form.SpeedButton6()->text(), QString::fromUtf8("Да"));
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  form.SetItems({"a", "b", "c"});
  form.SetItemIndex(0);
  WhenModal([](QWidget* w) {
    auto* f = static_cast<TChoseForm*>(w);
    f->ComboBox1()->setCurrentIndex(2);
    QTest::keyClick(f, Qt::Key_Return);
  });
  form.exec();
  EXPECT_EQ(form.ItemIndex(), 2);
  WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
  form.exec();
  EXPECT_EQ(form.ItemIndex(), 2);

  // The profile form: another label, an editable list with preset text.
  TChoseForm profiles(nullptr);
  profiles.SetLabelText(QString::fromUtf8("Профиль"));
  profiles.SetEditable(true);
  profiles.SetItems({"one", "two"});
  profiles.SetText("new name");
  WhenModal([](QWidget* w) { static_cast<TChoseForm*>(w)->SpeedButton6()->click(); });
  profiles.exec();
  EXPECT_EQ(profiles.Text(), "new name");
  EXPECT_EQ(profiles.ItemIndex(), -1);
}

TEST(ChoseForm, LookupChoosesThroughTheWindow) {
  TempFolder tmp;
  SettingsRecord settings{};
  SetField(settings.CddbHost, "127.0.0.1");
  SetField(settings.CddbPath, "/~cddb/cddb.cgi");
  AlbumRecord album = NamedDisc();
  SetField(album.Artist, "");
  SetField(album.AlbumTitle, "");
  for (int i = 0; i < 4; ++i) album.Tracks[i].Start = {static_cast<std::uint8_t>(i * 3), 2, 0};
  char id[16];
  std::snprintf(id, sizeof id, "%08x", ComputeDiscId(TocTableFromAlbum(album)));
  test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
    if (request.find("query") != std::string::npos) {
      c.Send(test::HttpResponse(std::string("211 list\r\nrock ") + id + " A / One\r\nrock " + id +
                                " B / Two\r\nrock " + id + " C / Three\r\n.\r\n"));
    } else if (request.find("read") != std::string::npos) {
      c.Send(test::HttpResponse(std::string("210 entry\r\nDISCID=") + id +
                                "\r\nDTITLE=B / Two\r\nTTITLE0=x\r\n.\r\n"));
    }
  });
  TagBuffer tags;
  ScriptedDialogs dialogs;
  ChoseFormChooser chooser(nullptr);
  View view;
  CddbLookup lookup(settings, album, tags, dialogs, chooser, &view, AlbumFolder(tmp.Path()));
  lookup.SetServerPort(server.Port());
  lookup.SetPump([] { QCoreApplication::processEvents(); });
  QStringList shown;
  WhenModal([&](QWidget* w) {
    auto* f = static_cast<TChoseForm*>(w);
    for (int i = 0; i < f->ComboBox1()->count(); ++i) shown << f->ComboBox1()->itemText(i);
    EXPECT_EQ(f->ComboBox1()->currentIndex(), 0);
    f->ComboBox1()->setCurrentIndex(1);
    QTest::keyClick(f, Qt::Key_Enter);
  });
  EXPECT_EQ(lookup.Run(), LookupOutcome::Done);
  EXPECT_EQ(shown, (QStringList{"A / One", "B / Two", "C / Three"}));
  EXPECT_EQ(view.album, "Two");
  EXPECT_TRUE(dialogs.Clean());
}

template <std::size_t N>
std::string FieldText(const char (&f)[N]) {
  return std::string(f, strnlen(f, N));
}

// Escape and the close box in the list of matches cancel: the titles the
// user typed stay as they are, nothing is read from the server and nothing
// is stored in the album database.
TEST(ChoseForm, EscapeOrCloseInTheMatchListKeepsTypedTitles) {
  for (const bool useCloseBox : {false, true}) {
    SCOPED_TRACE(useCloseBox ? "close box" : "Escape");
    TempFolder tmp;
    SettingsRecord settings{};
    SetField(settings.CddbHost, "127.0.0.1");
    SetField(settings.CddbPath, "/~cddb/cddb.cgi");
    AlbumRecord album = NamedDisc(4);
    for (int i = 0; i < 4; ++i) album.Tracks[i].Start = {static_cast<std::uint8_t>(i * 3), 2, 0};
    const AlbumRecord typed = album;
    char id[16];
    std::snprintf(id, sizeof id, "%08x", ComputeDiscId(TocTableFromAlbum(album)));
    int reads = 0;
    test::LoopbackServer server([&](const std::string& request, test::LoopbackServer::Connection& c) {
      if (request.find("query") != std::string::npos) {
        c.Send(test::HttpResponse(std::string("211 list\r\nmisc ") + id +
                                  " Other / Wrong Disc\r\nrock " + id + " B / Two\r\n.\r\n"));
      } else if (request.find("read") != std::string::npos) {
        ++reads;
        c.Send(test::HttpResponse(std::string("210 entry\r\nDISCID=") + id +
                                  "\r\nDTITLE=Other / Wrong Disc\r\nTTITLE0=x\r\n.\r\n"));
      }
    });
    TagBuffer tags;
    ScriptedDialogs dialogs;
    ChoseFormChooser chooser(nullptr);
    View view;
    const std::string folder = AlbumFolder(tmp.Path());
    CddbLookup lookup(settings, album, tags, dialogs, chooser, &view, folder);
    lookup.SetServerPort(server.Port());
    lookup.SetPump([] { QCoreApplication::processEvents(); });
    bool shown = false;
    WhenModal([&](QWidget* w) {
      shown = qobject_cast<TChoseForm*>(w) != nullptr;
      if (useCloseBox) w->close();
      else QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(lookup.Run(), LookupOutcome::Cancelled);
    EXPECT_TRUE(shown);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(FieldText(album.AlbumTitle), FieldText(typed.AlbumTitle));
    EXPECT_EQ(FieldText(album.Artist), FieldText(typed.Artist));
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(FieldText(album.Tracks[i].Title), FieldText(typed.Tracks[i].Title)) << i;
    EXPECT_EQ(std::memcmp(&album, &typed, sizeof album), 0) << "the album record changed";
    EXPECT_TRUE(view.album.empty());
    EXPECT_TRUE(view.rows.empty());
    std::error_code ec;
    bool stored = false;
    if (std::filesystem::exists(folder, ec))
      for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        stored = stored || e.is_regular_file();
    EXPECT_FALSE(stored) << "something was stored in " << folder;
    EXPECT_TRUE(dialogs.Clean());
  }
}

// --- TID3Form ---

TEST(ID3Form, NeverTaggedTrackStartsFromTheAlbum) {
  AlbumRecord album = NamedDisc();
  TagBuffer tags;
  View view;
  TID3Form form(nullptr, album, tags, &view, 1, "LAME 3.100");
  EXPECT_EQ(form.windowTitle(), QString::fromUtf8("MP3 Теги"));
  EXPECT_EQ(form.TitleBox1()->count(), 3);
  EXPECT_EQ(form.TitleBox1()->currentIndex(), 1);
  EXPECT_EQ(Find<QLineEdit>(&form, "TitleBox")->text(), QString::fromUtf8("Песня 2"));
  EXPECT_EQ(Find<QLineEdit>(&form, "ArtistEdit")->text(), QString::fromUtf8("Кино"));
  EXPECT_EQ(Find<QLineEdit>(&form, "CopyrightEdit")->text(), QString::fromUtf8("Кино"));
  EXPECT_EQ(Find<QLineEdit>(&form, "AlbumEdit")->text(), QString::fromUtf8("Группа крови"));
  EXPECT_EQ(Find<QLineEdit>(&form, "TrackEdit")->text(), "2");
  EXPECT_EQ(Find<QLineEdit>(&form, "YearEdit")->text(), "1988");
  EXPECT_EQ(Find<QComboBox>(&form, "GenreBox")->currentText(), "Rock");
  EXPECT_EQ(Find<QLineEdit>(&form, "EncodedEdit")->text(), "LAME 3.100");
  EXPECT_FALSE(form.CheckBox1()->isChecked());

  // Typing anywhere switches the ID3v2 box on.
  QTest::keyClicks(Find<QLineEdit>(&form, "URLEdit"), "x");
  EXPECT_TRUE(form.CheckBox1()->isChecked());

  // The genre list: 126 sorted names, 20 shown at a time.
  QComboBox* genres = Find<QComboBox>(&form, "GenreBox");
  EXPECT_EQ(genres->count(), 126);
  EXPECT_EQ(genres->maxVisibleItems(), 20);
  EXPECT_GE(genres->findText("Psychadelic"), 0);
  EXPECT_EQ(genres->itemText(0), "A capella");
}

TEST(ID3Form, RenamingAndOk) {
  AlbumRecord album = NamedDisc();
  album.Compilation = 0;
  TagBuffer tags;
  View view;
  TID3Form form(nullptr, album, tags, &view, -1, "enc");
  QLineEdit* title = Find<QLineEdit>(&form, "TitleBox");
  title->selectAll();
  title->insert(QString::fromUtf8("Новое имя"));
  EXPECT_EQ(form.TitleBox1()->itemText(0), QString::fromUtf8("Новое имя"));
  form.CopyComp()->setChecked(true);
  form.SpeedButton2Click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(FieldUtf8(album.Tracks[0].Title), "Новое имя");
  EXPECT_EQ(view.rows[0], "Новое имя");
  EXPECT_EQ(view.rows[2], "Песня 3");
  EXPECT_EQ(album.Compilation, 1);
  TrackTagRecord t = tags.Get(0, 3);
  EXPECT_EQ(t.TagsOn, 1);
  EXPECT_EQ(FieldUtf8(t.Title), "Новое имя");
  EXPECT_EQ(FieldText(t.EncodedBy), "enc");
}

TEST(ID3Form, EmptyAlbumFieldsAreFilledOnOk) {
  AlbumRecord album = NamedDisc();
  SetField(album.Artist, "");
  SetField(album.AlbumTitle, "");
  TagBuffer tags;
  View view;
  TID3Form form(nullptr, album, tags, &view, 0, "");
  QTest::keyClicks(Find<QLineEdit>(&form, "OArtistEdit"), "Orig");
  QTest::keyClicks(Find<QLineEdit>(&form, "AlbumEdit"), "Typed album");
  form.SpeedButton2Click();
  EXPECT_EQ(FieldText(album.Artist), "Orig");
  EXPECT_EQ(view.artist, "Orig");
  EXPECT_EQ(FieldText(album.AlbumTitle), "Typed album");
  EXPECT_EQ(view.album, "Typed album");
}

TEST(ID3Form, SwitchingTracksKeepsEditsAndCancelKeepsThemToo) {
  AlbumRecord album = NamedDisc();
  TagBuffer tags;
  TID3Form form(nullptr, album, tags, nullptr, 0, "");
  Find<QLineEdit>(&form, "ComposerEdit")->insert(QString::fromUtf8("Цой"));
  form.TitleBox1Change(2);
  EXPECT_EQ(form.CurrentTrack(), 2);
  EXPECT_EQ(Find<QLineEdit>(&form, "ComposerEdit")->text(), "");
  EXPECT_EQ(Find<QLineEdit>(&form, "TrackEdit")->text(), "3");
  QTest::keyClicks(Find<QLineEdit>(&form, "ComposerEdit"), "lost");
  form.SpeedButton1Click();  // cancel: the track left before stays stored
  EXPECT_EQ(FieldUtf8(tags.Get(0, 3).Composer), "Цой");
  EXPECT_EQ(tags.Get(0, 3).TagsOn, 1);
  EXPECT_EQ(FieldText(tags.Get(2, 3).Composer), "");
  EXPECT_EQ(FieldUtf8(album.Tracks[0].Title), "Песня 1");
}

TEST(ID3Form, CopyIntoAllTags) {
  AlbumRecord album = NamedDisc();
  SetField(album.Year, "");
  TagBuffer tags;
  TID3Form form(nullptr, album, tags, nullptr, 0, "");
  QTest::keyClicks(Find<QLineEdit>(&form, "YearEdit"), "2001");
  QTest::keyClicks(Find<QLineEdit>(&form, "URLEdit"), "http://x");
  QTest::keyClicks(Find<QPlainTextEdit>(&form, "CommentBox"), "line1");
  QTest::keyClick(Find<QPlainTextEdit>(&form, "CommentBox"), Qt::Key_Return);
  QTest::keyClicks(Find<QPlainTextEdit>(&form, "CommentBox"), "line2");
  LinkLabel* link = form.Label13();
  EXPECT_EQ(link->FontColor(), 255u);
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  QTest::mousePress(link, Qt::LeftButton);
  EXPECT_EQ(link->FontColor(), 16711680u);
  QTest::mouseRelease(link, Qt::LeftButton);  // the click
  EXPECT_EQ(link->FontColor(), 255u);
  EXPECT_EQ(FieldText(album.Year), "2001");
  for (int i = 0; i < 3; ++i) {
    TrackTagRecord t = tags.Get(i, 3);
    EXPECT_EQ(t.TagsOn, 1);
    EXPECT_EQ(FieldText(t.Year), "2001");
    EXPECT_EQ(FieldText(t.Url), "http://x");
    EXPECT_EQ(FieldText(t.Comment), "line1\r\nline2");
    EXPECT_EQ(FieldUtf8(t.Title), "Песня " + std::to_string(i + 1));
    EXPECT_EQ(FieldText(t.TrackNumber), std::to_string(i + 1));
    EXPECT_EQ(FieldUtf8(t.Artist), "Кино");
  }
}

TEST(ID3Form, RecordModeLeavesTheDiscAlone) {
  TID3Form form(nullptr);
  EXPECT_FALSE(form.DiscMode());
  TrackTagRecord in{};
  SetFieldUtf8(in.Title, "Заголовок");
  SetField(in.TrackNumber, "7");
  SetField(in.Comment, "a\r\nb");
  form.LoadTag(in);
  QTest::keyClicks(Find<QLineEdit>(&form, "ArtistEdit"), "typed");
  EXPECT_FALSE(form.CheckBox1()->isChecked()) << "record mode does not touch the box";
  form.CopyComp()->setChecked(true);
  form.SpeedButton2Click();
  TrackTagRecord out{};
  form.StoreTag(out);
  EXPECT_EQ(FieldUtf8(out.Title), "Заголовок");
  EXPECT_EQ(FieldText(out.Artist), "typed");
  EXPECT_EQ(FieldText(out.TrackNumber), "7");
  EXPECT_EQ(FieldText(out.Comment), "a\r\nb");
  EXPECT_EQ(out.TagsOn, 0);
  // Texts longer than a field are cut to it.
  QLineEdit* artist = Find<QLineEdit>(&form, "ArtistEdit");
  artist->setMaxLength(200);
  artist->setText(QString(120, QChar(0x0416)));
  form.StoreTag(out);
  EXPECT_EQ(FieldText(out.Artist).size(), 49u);
}

TEST(ID3Form, FullTextsAreShownEditedAndStored) {
  AlbumRecord album = NamedDisc();
  RecordTexts texts;
  SetAlbumText(album, texts, AlbumField::Artist, "Björk");
  SetTrackTitleText(album, texts, 1, "Jóga");
  TagBuffer tags;
  View view;
  TID3Form form(nullptr, album, texts, tags, &view, 1, "enc");
  QLineEdit* title = Find<QLineEdit>(&form, "TitleBox");
  EXPECT_EQ(title->text(), QString::fromUtf8("Jóga"));
  EXPECT_EQ(Find<QLineEdit>(&form, "ArtistEdit")->text(), QString::fromUtf8("Björk"));
  EXPECT_EQ(form.TitleBox1()->itemText(1), QString::fromUtf8("Jóga"));
  title->selectAll();
  title->insert(QString::fromUtf8("東京事変 🎸"));
  Find<QPlainTextEdit>(&form, "CommentBox")->setPlainText(QString::fromUtf8("Σχόλιο\nδεύτερη"));
  form.SpeedButton2Click();
  EXPECT_EQ(TrackTitleText(album, texts, 1), "東京事変 🎸");
  EXPECT_EQ(view.rows[1], "東京事変 🎸");
  TrackTags t = tags.GetTags(1, 3);
  EXPECT_EQ(t.Get(TagField::Title), "東京事変 🎸");
  EXPECT_EQ(t.Get(TagField::Artist), "Björk");
  EXPECT_EQ(t.Get(TagField::Comment), "Σχόλιο\r\nδεύτερη");
}

// --- TCDDBEditForm ---

class Editor : public ::testing::Test {
 protected:
  TempFolder tmp;
  std::string folder = tmp.Path() + "/";
  ScriptedDialogs dialogs;

  void Store(std::int32_t id, const std::string& artist, const std::string& album, int tracks = 2) {
    AlbumRecord a = NamedDisc(tracks);
    a.DiscId = id;
    SetFieldUtf8(a.Artist, artist);
    SetFieldUtf8(a.AlbumTitle, album);
    a.Tracks[1].CopiedFlag = 1;
    TagBuffer t;
    for (int i = 0; i < tracks; ++i) {
      TrackTagRecord r{};
      SetField(r.Title, "tag" + std::to_string(i));
      t.Set(i, tracks, r);
    }
    ASSERT_TRUE(SaveAlbum(folder, a, t));
  }
  AlbumRecord Load(std::int32_t id, TagBuffer* tags = nullptr) {
    AlbumRecord a{};
    TagBuffer t;
    EXPECT_TRUE(LoadAlbum(folder, id, a, t));
    if (tags) *tags = t;
    return a;
  }
  static QTreeWidgetItem* Node(TCDDBEditForm& f, const QString& artist) {
    for (int i = 0; i < f.TreeView()->topLevelItemCount(); ++i)
      if (f.TreeView()->topLevelItem(i)->text(0).compare(artist, Qt::CaseInsensitive) == 0)
        return f.TreeView()->topLevelItem(i);
    return nullptr;
  }
  long long MTime(const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec + st.st_ino * 7;
  }
};

TEST_F(Editor, TreeOfArtistsAndClosingWithoutEditsWritesNothing) {
  Store(1, "Kino", "One");
  Store(2, "KINO", "Two");
  Store(3, "Aria", "Three");
  const long long before = MTime(folder + "1.dat") + MTime(folder + "2.dat.tag");
  {
    TCDDBEditForm form(folder, dialogs);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Редактор локальной CDDB"));
    ASSERT_EQ(form.TreeView()->topLevelItemCount(), 2);
    EXPECT_EQ(form.TreeView()->topLevelItem(0)->text(0), "Aria");  // sorted
    QTreeWidgetItem* kino = form.TreeView()->topLevelItem(1);
    EXPECT_EQ(kino->childCount(), 2);
    // Nothing selected: every link is off.
    EXPECT_FALSE(form.CompilationBox()->isEnabled());
    EXPECT_FALSE(form.DelArtistLabel()->isEnabled());
    form.TreeView()->setCurrentItem(kino);
    EXPECT_TRUE(form.DelArtistLabel()->isEnabled());
    EXPECT_FALSE(form.CompilationBox()->isEnabled());
    form.TreeView()->setCurrentItem(kino->child(0));
    EXPECT_TRUE(form.CompilationBox()->isEnabled());
    ASSERT_EQ(form.ListView()->topLevelItemCount(), 2);
    EXPECT_EQ(form.ListView()->topLevelItem(0)->text(0), QString::fromUtf8("Песня 1"));
    EXPECT_EQ(form.ListView()->topLevelItem(0)->text(1), "04:00:00");
    EXPECT_EQ(form.ListView()->topLevelItem(0)->text(2), QString::fromUtf8("40.37 Мб"));
    form.SpeedButton2Click();
  }
  EXPECT_EQ(MTime(folder + "1.dat") + MTime(folder + "2.dat.tag"), before);
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(Editor, RenamesAreWrittenWhenTheWindowCloses) {
  Store(1, "Kino", "One");
  Store(2, "kino", "Two");
  Store(-5, "Aria", "Hero");
  {
    TCDDBEditForm form(folder, dialogs);
    QTreeWidgetItem* kino = Node(form, "Kino");
    ASSERT_NE(kino, nullptr);
    kino->setText(0, QString::fromUtf8("Кино"));  // the in-place edit's result
    QTreeWidgetItem* aria = Node(form, "Aria");
    ASSERT_NE(aria, nullptr);
    form.TreeView()->setCurrentItem(aria->child(0));
    aria->child(0)->setText(0, QString::fromUtf8("Герой асфальта"));
    form.ListView()->topLevelItem(1)->setText(0, QString::fromUtf8("Улица роз"));
    form.close();
  }
  EXPECT_EQ(FieldUtf8(Load(1).Artist), "Кино");
  EXPECT_EQ(FieldUtf8(Load(2).Artist), "Кино");
  AlbumRecord hero = Load(-5);
  EXPECT_EQ(FieldUtf8(hero.AlbumTitle), "Герой асфальта");
  EXPECT_EQ(FieldUtf8(hero.Tracks[1].Title), "Улица роз");
  EXPECT_EQ(FieldUtf8(hero.Tracks[0].Title), "Песня 1");
  EXPECT_TRUE(FileExists(folder + "-5.dat")) << "file names stay keyed by the identifier";
  EXPECT_TRUE(dialogs.Clean());
}

TEST_F(Editor, DeletingAnArtistRemovesAllItsFiles) {
  Store(1, "Kino", "One");
  Store(2, "Kino", "Two");
  Store(3, "KINO", "Three");
  Store(4, "Aria", "Four");
  TCDDBEditForm form(folder, dialogs);
  QTreeWidgetItem* kino = Node(form, "Kino");
  ASSERT_NE(kino, nullptr);
  form.TreeView()->setCurrentItem(kino);
  dialogs.ExpectMessage("Удалить все альбомы?", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo,
                        IdNo);
  form.DelArtistLabelClick();
  EXPECT_TRUE(FileExists(folder + "1.dat"));
  dialogs.ExpectMessage("Удалить все альбомы?", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo,
                        IdYes);
  form.DelArtistLabelClick();
  for (const char* f : {"1.dat", "1.dat.tag", "2.dat", "2.dat.tag", "3.dat", "3.dat.tag"})
    EXPECT_FALSE(FileExists(folder + f)) << f;
  EXPECT_TRUE(FileExists(folder + "4.dat"));
  EXPECT_EQ(form.TreeView()->topLevelItemCount(), 1);
  EXPECT_EQ(form.ListView()->topLevelItemCount(), 0);

  // One album, after an edit that must not come back.
  QTreeWidgetItem* album = Node(form, "Aria")->child(0);
  form.TreeView()->setCurrentItem(album);
  form.CompilationBox()->click();
  dialogs.ExpectMessage("Удалить альбом?", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo,
                        IdYes);
  form.DelAlbumClick();
  form.close();
  EXPECT_FALSE(FileExists(folder + "4.dat"));
  EXPECT_FALSE(FileExists(folder + "4.dat.tag"));
  std::string why;
  EXPECT_TRUE(dialogs.Clean(&why)) << why;
}

TEST_F(Editor, TagEditingKeepsTheEditsOfTheTrackLeft) {
  Store(8, "Kino", "One", 3);
  {
    TCDDBEditForm form(folder, dialogs);
    QTreeWidgetItem* album = Node(form, "Kino")->child(0);
    form.TreeView()->setCurrentItem(album);
    form.ListView()->setCurrentItem(form.ListView()->topLevelItem(1));
    bool shown = false;
    form.SetTagFormHook([&](TID3Form& tag) {
      shown = true;
      EXPECT_TRUE(tag.CopyComp()->isHidden());
      EXPECT_TRUE(tag.Label13()->isHidden());
      EXPECT_EQ(tag.TitleBox1()->count(), 3);
      EXPECT_EQ(tag.TitleBox1()->currentIndex(), 1);
      EXPECT_EQ(tag.findChild<QLineEdit*>("TitleBox")->text(), "tag1");
      tag.findChild<QLineEdit*>("ComposerEdit")->setText("first");
      tag.TitleBox1()->setCurrentIndex(2);
      tag.TitleBox1Change(2);  // what choosing in the list does
      EXPECT_EQ(tag.findChild<QLineEdit*>("TitleBox")->text(), "tag2");
      tag.findChild<QLineEdit*>("ComposerEdit")->setText("second");
      tag.SpeedButton2Click();
      EXPECT_EQ(tag.result(), QDialog::Accepted);
    });
    form.ID3v21Click();
    EXPECT_TRUE(shown);
    form.close();
  }
  TagBuffer tags;
  Load(8, &tags);
  EXPECT_EQ(FieldText(tags.Get(1, 3).Composer), "first");
  EXPECT_EQ(FieldText(tags.Get(2, 3).Composer), "second");
  EXPECT_EQ(FieldText(tags.Get(0, 3).Title), "tag0");
}

// Screenshots for a person to look at: SONARVEX_SCREENSHOTS=<folder>.
TEST_F(Editor, FullTextsAreShownAndWrittenWithTheirCompanions) {
  AlbumRecord a = NamedDisc(2);
  a.DiscId = 7;
  RecordTexts texts;
  SetAlbumText(a, texts, AlbumField::Artist, "Sigur Rós");
  SetAlbumText(a, texts, AlbumField::AlbumTitle, "Ágætis byrjun");
  ASSERT_TRUE(SaveAlbum(folder, a, TagBuffer(), nullptr, &texts));
  {
    TCDDBEditForm form(folder, dialogs);
    QTreeWidgetItem* artist = Node(form, QString::fromUtf8("Sigur Rós"));
    ASSERT_NE(artist, nullptr);
    EXPECT_EQ(artist->child(0)->text(0), QString::fromUtf8("Ágætis byrjun"));
    form.TreeView()->setCurrentItem(artist->child(0));
    form.ListView()->topLevelItem(0)->setText(0, QString::fromUtf8("Svefn-g-englar 🌙"));
    EXPECT_EQ(form.ListView()->topLevelItem(0)->text(0), QString::fromUtf8("Svefn-g-englar 🌙"));
    form.close();
  }
  AlbumRecord back{};
  RecordTexts backTexts;
  TagBuffer tags;
  ASSERT_TRUE(LoadAlbum(folder, 7, back, tags, &backTexts));
  EXPECT_EQ(TrackTitleText(back, backTexts, 0), "Svefn-g-englar 🌙");
  EXPECT_EQ(AlbumText(back, backTexts, AlbumField::Artist), "Sigur Rós");
  EXPECT_TRUE(dialogs.Clean());
}

TEST(Screenshots, Forms) {
  const char* out = std::getenv("SONARVEX_SCREENSHOTS");
  if (!out) GTEST_SKIP() << "set SONARVEX_SCREENSHOTS to a folder";
  AlbumRecord album = NamedDisc(5);
  TagBuffer tags;
  TID3Form id3(nullptr, album, tags, nullptr, 1, "LAME 3.100", FormColors{});
  id3.show();
  QTest::qWait(300);
  id3.grab().save(QString::fromUtf8(out) + "/TID3Form.png");

  TempFolder tmp;
  for (int i = 0; i < 4; ++i) {
    AlbumRecord a = NamedDisc(4);
    a.DiscId = 100 + i;
    SetFieldUtf8(a.Artist, i < 2 ? "Кино" : i == 2 ? "Aria" : "Nautilus");
    SetFieldUtf8(a.AlbumTitle, i == 1 ? "Звезда по имени Солнце" : "Album " + std::to_string(i));
    a.Tracks[1].CopiedFlag = 1;
    SaveAlbum(tmp.Path() + "/", a, TagBuffer());
  }
  ScriptedDialogs dialogs;
  TCDDBEditForm editor(tmp.Path() + "/", dialogs);
  editor.TreeView()->expandAll();
  editor.TreeView()->setCurrentItem(editor.TreeView()->topLevelItem(2)->child(1));
  editor.show();
  QTest::qWait(300);
  editor.grab().save(QString::fromUtf8(out) + "/TCDDBEditForm.png");

  TChoseForm chose(nullptr);
  chose.SetItems({"Кино / Группа крови", "Kino / Gruppa krovi"});
  chose.SetItemIndex(0);
  chose.show();
  QTest::qWait(200);
  chose.grab().save(QString::fromUtf8(out) + "/TChoseForm.png");
}

}  // namespace
}  // namespace sonarvex
