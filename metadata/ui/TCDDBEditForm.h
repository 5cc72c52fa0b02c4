// "Редактор локальной CDDB": the whole album database as a tree of artists and
// their albums. Albums are edited in memory (renames of artists, albums and
// tracks, tags, the compilation flag) and written back when their node goes,
// which happens for every node when the window closes. Deleting removes the
// files at once, after a question.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "records/AlbumRecord.h"
#include "records/RecordTexts.h"
#include "records/TagBuffer.h"
#include "metadata/ui/UiHelpers.h"

class QCheckBox;
class QMenu;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace sonarvex {

class Dialogs;
class LinkLabel;
class TID3Form;

// One album file held in memory, owned by its tree node.
struct AlbumEntry {
  AlbumRecord record{};
  RecordTexts texts;  // the album's full texts (the tag buffer holds the tags')
  std::uint8_t modified = 0;
  TagBuffer tags;  // number of tracks x 1529 bytes
  std::string albumPath;
  std::string tagPath;  // albumPath + ".tag"
};

class TCDDBEditForm : public QDialog {
  Q_OBJECT
 public:
  // images: the main window's image list (1 album / not copied, 2 copied,
  // 3 artist / data track).
  TCDDBEditForm(const std::string& albumFolder, Dialogs& dialogs, QWidget* parent = nullptr,
                const FormColors& colors = {}, ImageProvider images = DefaultImage);
  ~TCDDBEditForm() override;

  QTreeWidget* TreeView() const { return tree_; }
  QTreeWidget* ListView() const { return list_; }
  QCheckBox* CompilationBox() const { return compilationBox_; }
  LinkLabel* DelArtistLabel() const { return delArtistLabel_; }
  // The album entry of an album node (null for artist nodes).
  AlbumEntry* EntryOf(QTreeWidgetItem* node) const;

  // Tests: called with the tag dialog instead of showing it modally.
  void SetTagFormHook(std::function<void(TID3Form&)> hook) { tagFormHook_ = std::move(hook); }

 public slots:
  void TreeViewClick();
  void ListViewEdited(QTreeWidgetItem* row, int column);
  void TreeViewEdited(QTreeWidgetItem* node, int column);
  void N1Click();
  void ID3v21Click();
  void CompilationBoxClick();
  void DelAlbumClick();
  void DelArtistLabelClick();
  void SpeedButton2Click();

 protected:
  void done(int result) override;

 private:
  void BuildTree();
  void ListTracks(AlbumEntry& entry);
  // Removes a node and its children, writing back every modified entry.
  void RemoveNode(QTreeWidgetItem* node);
  void TreeViewDeletion(QTreeWidgetItem* node);
  void RemoveAll();
  QTreeWidgetItem* Selected() const;

  std::string albumFolder_;
  Dialogs& dialogs_;
  ImageProvider images_;
  std::map<QTreeWidgetItem*, std::unique_ptr<AlbumEntry>> entries_;
  bool updating_ = false;
  bool closed_ = false;
  std::function<void(TID3Form&)> tagFormHook_;

  QTreeWidget* tree_;
  QTreeWidget* list_;
  QCheckBox* compilationBox_;
  LinkLabel* label1_;
  LinkLabel* delAlbum_;
  LinkLabel* delArtistLabel_;
  QToolButton* speedButton2_;
  QMenu* popupMenu1_;
  QMenu* popupMenu2_;
  QAction* renameTrackAction_;
  QAction* renameNodeAction_;
};

}  // namespace sonarvex
