#include "metadata/ui/TCDDBEditForm.h"

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "metadata/AlbumDatabase.h"
#include "metadata/ui/LinkLabel.h"
#include "metadata/ui/TID3Form.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/ui/QtText.h"

namespace sonarvex {
namespace {

constexpr int kTrackRole = Qt::UserRole + 1;

template <std::size_t N>
QString FromField(const char (&field)[N]) {
  return Q(Cp1251ToUtf8(FieldText(field)));
}
template <std::size_t N>
void ToField(char (&field)[N], const QString& text) {
  SetField(field, Utf8ToCp1251(S(text)));
}

QString TwoDigitsText(int v) { return QString::asprintf("%02d", v); }

}  // namespace

TCDDBEditForm::TCDDBEditForm(const std::string& albumFolder, Dialogs& dialogs, QWidget* parent,
                             const FormColors& colors, ImageProvider images)
    : QDialog(parent), albumFolder_(albumFolder), dialogs_(dialogs), images_(std::move(images)) {
  setObjectName("CDDBEditForm");
  setWindowTitle(QString::fromUtf8("Редактор локальной CDDB"));
  setModal(true);
  if (!images_) images_ = DefaultImage;

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("TreeView");
  tree_->setHeaderHidden(true);
  tree_->setColumnCount(1);
  tree_->setSortingEnabled(true);
  tree_->sortByColumn(0, Qt::AscendingOrder);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  tree_->setContextMenuPolicy(Qt::CustomContextMenu);

  list_ = new QTreeWidget(this);
  list_->setObjectName("ListView");
  list_->setRootIsDecorated(false);
  list_->setColumnCount(3);
  list_->setHeaderLabels({QString::fromUtf8("Трек"), QString::fromUtf8("Время"),
                          QString::fromUtf8("Размер")});
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->setColumnWidth(1, 80);
  list_->setColumnWidth(2, 80);
  list_->setEditTriggers(QAbstractItemView::EditKeyPressed);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);

  compilationBox_ = new QCheckBox(QString::fromUtf8("Сборник"), this);
  compilationBox_->setObjectName("CompilationBox");
  label1_ = new LinkLabel("ID3v2 ...", 16711680, 255, this);
  label1_->setObjectName("Label1");
  delAlbum_ = new LinkLabel(QString::fromUtf8("Удалить альбом"), 16711680, 255, this);
  delAlbum_->setObjectName("DelAlbum");
  delArtistLabel_ = new LinkLabel(QString::fromUtf8("Удалить все альбомы выбранной группы"),
                                  16711680, 255, this);
  delArtistLabel_->setObjectName("DelArtistLabel");
  speedButton2_ = new QToolButton(this);
  speedButton2_->setObjectName("SpeedButton2");
  speedButton2_->setText(QString::fromUtf8("Закрыть"));
  speedButton2_->setIcon(Glyph("OK"));
  speedButton2_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  speedButton2_->setAutoRaise(true);

  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName("PopupMenu1");
  renameTrackAction_ = popupMenu1_->addAction(QString::fromUtf8("Переименовать"));
  renameTrackAction_->setObjectName("N1");
  QAction* tagAction = popupMenu1_->addAction("ID3v2");
  tagAction->setObjectName("ID3v21");
  popupMenu2_ = new QMenu(this);
  popupMenu2_->setObjectName("PopupMenu2");
  renameNodeAction_ = popupMenu2_->addAction(QString::fromUtf8("Переименовать"));
  renameNodeAction_->setObjectName("N2");

  auto* right = new QVBoxLayout;
  right->addWidget(list_, 1);
  auto* links = new QHBoxLayout;
  links->addWidget(compilationBox_);
  links->addSpacing(10);
  links->addWidget(label1_);
  links->addSpacing(10);
  links->addWidget(delAlbum_);
  links->addStretch(1);
  right->addLayout(links);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(delArtistLabel_);
  bottom->addStretch(1);
  bottom->addWidget(speedButton2_);
  right->addLayout(bottom);
  auto* layout = new QHBoxLayout(this);
  layout->addWidget(tree_, 2);
  layout->addLayout(right, 3);
  resize(760, 480);

  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &TCDDBEditForm::TreeViewClick);
  connect(tree_, &QTreeWidget::itemChanged, this, &TCDDBEditForm::TreeViewEdited);
  connect(list_, &QTreeWidget::itemChanged, this, &TCDDBEditForm::ListViewEdited);
  connect(tree_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { popupMenu2_->popup(tree_->viewport()->mapToGlobal(p)); });
  connect(list_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& p) { popupMenu1_->popup(list_->viewport()->mapToGlobal(p)); });
  connect(renameTrackAction_, &QAction::triggered, this, &TCDDBEditForm::N1Click);
  connect(renameNodeAction_, &QAction::triggered, this, &TCDDBEditForm::N1Click);
  connect(tagAction, &QAction::triggered, this, &TCDDBEditForm::ID3v21Click);
  connect(label1_, &LinkLabel::clicked, this, &TCDDBEditForm::ID3v21Click);
  connect(compilationBox_, &QCheckBox::clicked, this, &TCDDBEditForm::CompilationBoxClick);
  connect(delAlbum_, &LinkLabel::clicked, this, &TCDDBEditForm::DelAlbumClick);
  connect(delArtistLabel_, &LinkLabel::clicked, this, &TCDDBEditForm::DelArtistLabelClick);
  connect(speedButton2_, &QToolButton::clicked, this, &TCDDBEditForm::SpeedButton2Click);

  ApplyFormColors(this, colors);
  // The tree takes the list's colour.
  tree_->setPalette(list_->palette());
  BuildTree();
  TreeViewClick();
}

TCDDBEditForm::~TCDDBEditForm() { RemoveAll(); }

AlbumEntry* TCDDBEditForm::EntryOf(QTreeWidgetItem* node) const {
  auto it = entries_.find(node);
  return it == entries_.end() ? nullptr : it->second.get();
}

QTreeWidgetItem* TCDDBEditForm::Selected() const {
  QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  return selected.isEmpty() ? nullptr : selected.front();
}

void TCDDBEditForm::BuildTree() {
  updating_ = true;
  tree_->clear();
  entries_.clear();
  for (const std::string& path : ListAlbumFiles(albumFolder_)) {
    auto entry = std::make_unique<AlbumEntry>();
    // A file that cannot be read has no album to show.
    if (!ReadAlbumFile(path, entry->record)) continue;
    entry->texts = ValidAlbumTexts(entry->record, ReadCompanion(path));
    entry->albumPath = path;
    entry->tagPath = path + ".tag";
    ReadTagFile(entry->tagPath, AlbumTrackCount(entry->record), entry->tags);
    entry->modified = 0;
    compilationBox_->setChecked(entry->record.Compilation != 0);

    const QString artist = Q(AlbumText(entry->record, entry->texts, AlbumField::Artist));
    QTreeWidgetItem* artistNode = nullptr;
    for (int i = 0; i < tree_->topLevelItemCount() && !artistNode; ++i) {
      QTreeWidgetItem* node = tree_->topLevelItem(i);
      if (node->text(0).compare(artist, Qt::CaseInsensitive) == 0) artistNode = node;
    }
    if (!artistNode) {
      artistNode = new QTreeWidgetItem(tree_, {artist});
      artistNode->setIcon(0, QIcon(images_(3)));
      artistNode->setFlags(artistNode->flags() | Qt::ItemIsEditable);
    }
    auto* albumNode = new QTreeWidgetItem(
        artistNode, {Q(AlbumText(entry->record, entry->texts, AlbumField::AlbumTitle))});
    albumNode->setIcon(0, QIcon(images_(1)));
    albumNode->setFlags(albumNode->flags() | Qt::ItemIsEditable);
    entries_[albumNode] = std::move(entry);
  }
  tree_->sortItems(0, Qt::AscendingOrder);
  updating_ = false;
}

void TCDDBEditForm::ListTracks(AlbumEntry& entry) {
  updating_ = true;
  list_->clear();
  const int n = AlbumTrackCount(entry.record);
  for (int i = 0; i < n; ++i) {
    const AlbumTrackEntry& t = entry.record.Tracks[i];
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, Q(TrackTitleText(entry.record, entry.texts, i)));
    row->setText(1, TwoDigitsText(t.Length.minute) + ":" + TwoDigitsText(t.Length.second) + ":" +
                        TwoDigitsText(t.Length.frame));
    row->setText(2, FormatFixed("%2.2f", t.Size / 1048576.0) + QString::fromUtf8(" Мб"));
    int image = t.CopiedFlag ? 2 : 1;
    if (!t.AudioFlag) image = 3;
    row->setIcon(0, QIcon(images_(image)));
    row->setData(0, kTrackRole, i);
    row->setFlags(row->flags() | Qt::ItemIsEditable);
  }
  updating_ = false;
}

void TCDDBEditForm::TreeViewClick() {
  compilationBox_->setEnabled(false);
  label1_->setEnabled(false);
  delArtistLabel_->setEnabled(false);
  delAlbum_->setEnabled(false);
  QTreeWidgetItem* node = Selected();
  if (!node) return;
  updating_ = true;
  list_->clear();
  updating_ = false;
  AlbumEntry* entry = EntryOf(node);
  if (!entry) {
    delArtistLabel_->setEnabled(true);
    return;
  }
  compilationBox_->setEnabled(true);
  label1_->setEnabled(true);
  delAlbum_->setEnabled(true);
  compilationBox_->setChecked(entry->record.Compilation != 0);
  ListTracks(*entry);
}

void TCDDBEditForm::ListViewEdited(QTreeWidgetItem* row, int column) {
  if (updating_ || column != 0 || !row) return;
  AlbumEntry* entry = EntryOf(Selected());
  if (!entry) return;
  int k = row->data(0, kTrackRole).toInt();
  if (k < 0 || k >= AlbumTrackCount(entry->record)) return;
  SetTrackTitleText(entry->record, entry->texts, k, S(row->text(0)));
  entry->modified = 1;
  updating_ = true;
  row->setText(0, Q(TrackTitleText(entry->record, entry->texts, k)));  // as stored
  updating_ = false;
}

void TCDDBEditForm::TreeViewEdited(QTreeWidgetItem* node, int column) {
  if (updating_ || column != 0 || !node) return;
  updating_ = true;
  if (AlbumEntry* entry = EntryOf(node)) {
    SetAlbumText(entry->record, entry->texts, AlbumField::AlbumTitle, S(node->text(0)));
    entry->modified = 1;
    node->setText(0, Q(AlbumText(entry->record, entry->texts, AlbumField::AlbumTitle)));
  } else {
    QString shown;
    for (int i = 0; i < node->childCount(); ++i) {
      if (AlbumEntry* e = EntryOf(node->child(i))) {
        SetAlbumText(e->record, e->texts, AlbumField::Artist, S(node->text(0)));
        e->modified = 1;
        shown = Q(AlbumText(e->record, e->texts, AlbumField::Artist));
      }
    }
    if (node->childCount() > 0) node->setText(0, shown);
  }
  updating_ = false;
}

void TCDDBEditForm::N1Click() {
  if (sender() == renameNodeAction_) {
    if (QTreeWidgetItem* node = Selected()) tree_->editItem(node, 0);
    return;
  }
  if (QTreeWidgetItem* row = list_->currentItem()) list_->editItem(row, 0);
}

void TCDDBEditForm::ID3v21Click() {
  AlbumEntry* entry = EntryOf(Selected());
  if (!entry) return;
  const int n = AlbumTrackCount(entry->record);
  if (n <= 0) return;
  TID3Form form(this);
  form.CopyComp()->hide();
  form.Label13()->hide();
  int current = 0;
  if (QTreeWidgetItem* row = list_->currentItem()) current = row->data(0, kTrackRole).toInt();
  if (current < 0 || current >= n) current = 0;
  form.LoadTag(entry->tags.GetTags(current, n));
  for (int i = 0; i < list_->topLevelItemCount(); ++i)
    form.TitleBox1()->addItem(list_->topLevelItem(i)->text(0));
  form.TitleBox1()->setCurrentIndex(current);
  form.SetOkHandler([&] {
    current = form.TitleBox1()->currentIndex();
    if (current < 0 || current >= n) current = 0;
    TrackTags tag;
    form.StoreTags(tag);
    entry->tags.SetTags(current, n, tag);
    entry->modified = 1;
    form.accept();
  });
  form.SetChooserHandler([&](int index) {
    if (index == current || index < 0 || index >= n) return;
    TrackTags tag;
    form.StoreTags(tag);
    entry->tags.SetTags(current, n, tag);
    entry->modified = 1;
    form.LoadTag(entry->tags.GetTags(index, n));
    current = index;
  });
  if (tagFormHook_) tagFormHook_(form);
  else form.exec();
}

void TCDDBEditForm::CompilationBoxClick() {
  AlbumEntry* entry = EntryOf(Selected());
  if (!entry) return;
  entry->record.Compilation = compilationBox_->isChecked() ? 1 : 0;
  entry->modified = 1;
}

void TCDDBEditForm::DelAlbumClick() {
  QTreeWidgetItem* node = Selected();
  AlbumEntry* entry = EntryOf(node);
  if (!entry) return;
  if (dialogs_.Message("Удалить альбом?", kProgramTitle, MsgIcon::Question, MsgButtons::YesNo) !=
      IdYes)
    return;
  ::unlink(entry->albumPath.c_str());
  ::unlink(entry->tagPath.c_str());
  ::unlink(CompanionPath(entry->albumPath).c_str());
  ::unlink(CompanionPath(entry->tagPath).c_str());
  entry->modified = 0;
  RemoveNode(node);
  updating_ = true;
  list_->clear();
  updating_ = false;
}

void TCDDBEditForm::DelArtistLabelClick() {
  QTreeWidgetItem* node = Selected();
  if (!node || EntryOf(node)) return;
  if (dialogs_.Message("Удалить все альбомы?", kProgramTitle, MsgIcon::Question,
                       MsgButtons::YesNo) != IdYes)
    return;
  for (int i = 0; i < node->childCount(); ++i) {
    if (AlbumEntry* e = EntryOf(node->child(i))) {
      ::unlink(e->albumPath.c_str());
      ::unlink(e->tagPath.c_str());
      ::unlink(CompanionPath(e->albumPath).c_str());
      ::unlink(CompanionPath(e->tagPath).c_str());
      e->modified = 0;
    }
  }
  RemoveNode(node);
  updating_ = true;
  list_->clear();
  updating_ = false;
}

void TCDDBEditForm::SpeedButton2Click() { close(); }

void TCDDBEditForm::TreeViewDeletion(QTreeWidgetItem* node) {
  auto it = entries_.find(node);
  if (it == entries_.end()) return;
  AlbumEntry& e = *it->second;
  if (e.modified) {
    const auto& bytes = e.tags.Bytes();
    if (WriteRecordFiles(e.albumPath,
                         std::string_view(reinterpret_cast<const char*>(&e.record), sizeof e.record),
                         ValidAlbumTexts(e.record, e.texts)))
      WriteRecordFiles(e.tagPath,
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       e.tags.ValidTexts());
    e.modified = 0;
  }
  entries_.erase(it);
}

void TCDDBEditForm::RemoveNode(QTreeWidgetItem* node) {
  if (!node) return;
  for (int i = node->childCount() - 1; i >= 0; --i) RemoveNode(node->child(i));
  TreeViewDeletion(node);
  updating_ = true;
  delete node;
  updating_ = false;
}

void TCDDBEditForm::RemoveAll() {
  if (closed_) return;
  closed_ = true;
  while (tree_->topLevelItemCount() > 0) RemoveNode(tree_->topLevelItem(0));
  entries_.clear();
}

void TCDDBEditForm::done(int result) {
  RemoveAll();
  QDialog::done(result);
}

}  // namespace sonarvex
