#include "metadata/ui/TID3Form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "metadata/AlbumView.h"
#include "metadata/Genres.h"
#include "metadata/ui/LinkLabel.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "records/TextFields.h"
#include "platform/ui/QtText.h"

namespace sonarvex {
namespace {

// Texts to the screen and back. The memo shows line feeds; the record keeps
// the CR LF pairs of the stored files.
QString FromText(const std::string& utf8) {
  QString text = Q(utf8);
  text.replace("\r\n", "\n");
  return text;
}
std::string ToText(const QString& text) {
  QString t = text;
  t.replace("\r\n", "\n").replace("\n", "\r\n");
  return S(t);
}

QLineEdit* Edit(QWidget* parent, const char* name, int maxLength) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setMaxLength(maxLength);
  return e;
}

}  // namespace

TID3Form::TID3Form(QWidget* parent) : QDialog(parent) { Build(); }

TID3Form::TID3Form(QWidget* parent, AlbumRecord& album, TagBuffer& tags, AlbumView* view,
                   int selectedRow, const std::string& encoderName, const FormColors& colors)
    : TID3Form(parent, album, ownTexts_, tags, view, selectedRow, encoderName, colors) {}

TID3Form::TID3Form(QWidget* parent, AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags,
                   AlbumView* view, int selectedRow, const std::string& encoderName,
                   const FormColors& colors)
    : QDialog(parent),
      album_(&album),
      albumTexts_(&albumTexts),
      copy_(album),
      tags_(&tags),
      view_(view),
      encoderName_(encoderName) {
  copyTexts_ = albumTexts;  // (the dialog's own texts are made by now)
  Build();
  const int n = TrackCount();
  for (int i = 0; i < n; ++i) titleBox1_->addItem(FromText(TrackTitleText(copy_, copyTexts_, i)));
  current_ = selectedRow >= 0 && selectedRow < n ? selectedRow : 0;
  LoadTag(tags_->GetTags(current_, n));
  copyComp_->setChecked(copy_.Compilation != 0);
  ApplyFormColors(this, colors);
}

int TID3Form::TrackCount() const { return album_ ? AlbumTrackCount(*album_) : titleBox1_->count(); }

void TID3Form::Build() {
  setObjectName("ID3Form");
  setWindowTitle(QString::fromUtf8("MP3 Теги"));
  setModal(true);

  checkBox1_ = new QCheckBox("ID3v2", this);
  checkBox1_->setObjectName("CheckBox1");
  QFont bold = checkBox1_->font();
  bold.setBold(true);
  checkBox1_->setFont(bold);
  titleBox1_ = new QComboBox(this);
  titleBox1_->setObjectName("TitleBox1");
  titleBox1_->setEditable(false);
  titleBox1_->setMaxVisibleItems(20);

  titleBox_ = Edit(this, "TitleBox", 49);
  artistEdit_ = Edit(this, "ArtistEdit", 49);
  albumEdit_ = Edit(this, "AlbumEdit", 49);
  yearEdit_ = Edit(this, "YearEdit", 49);
  composerEdit_ = Edit(this, "ComposerEdit", 49);
  trackEdit_ = Edit(this, "TrackEdit", 3);
  trackEdit_->setMaximumWidth(60);
  oArtistEdit_ = Edit(this, "OArtistEdit", 49);
  copyrightEdit_ = Edit(this, "CopyrightEdit", 49);
  urlEdit_ = Edit(this, "URLEdit", 49);
  encodedEdit_ = Edit(this, "EncodedEdit", 49);
  genreBox_ = new QComboBox(this);
  genreBox_->setObjectName("GenreBox");
  genreBox_->setEditable(true);
  genreBox_->setInsertPolicy(QComboBox::NoInsert);
  genreBox_->setMaxVisibleItems(20);
  for (const std::string& g : GenreNamesSorted()) genreBox_->addItem(Q(g));
  genreBox_->lineEdit()->setMaxLength(49);
  genreBox_->setCurrentIndex(-1);
  genreBox_->setEditText(QString());
  commentBox_ = new QPlainTextEdit(this);
  commentBox_->setObjectName("CommentBox");
  commentBox_->setTabChangesFocus(true);
  commentBox_->setFixedHeight(64);

  copyComp_ = new QCheckBox(QString::fromUtf8("Cборник"), this);
  copyComp_->setObjectName("CopyComp");
  label13_ = new LinkLabel(QString::fromUtf8("Скопировать во все теги"), 255, 16711680, this);
  label13_->setObjectName("Label13");
  speedButton2_ = new QToolButton(this);
  speedButton2_->setObjectName("SpeedButton2");
  speedButton2_->setText("Ok");
  speedButton2_->setIcon(Glyph("OK"));
  speedButton1_ = new QToolButton(this);
  speedButton1_->setObjectName("SpeedButton1");
  speedButton1_->setText(QString::fromUtf8("Отмена"));
  speedButton1_->setIcon(Glyph("NO"));
  for (QToolButton* b : {speedButton2_, speedButton1_}) {
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    b->setAutoRaise(true);
    b->setMinimumWidth(80);
  }

  auto label = [this](const char* text, QWidget* buddy) {
    auto* l = new QLabel(QString::fromUtf8(text), this);
    l->setBuddy(buddy);
    return l;
  };
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(4);
  int r = 0;
  grid->addWidget(checkBox1_, r, 0);
  grid->addWidget(titleBox1_, r, 1, 1, 3);
  ++r;
  grid->addWidget(label("Название", titleBox_), r, 0);
  grid->addWidget(titleBox_, r, 1, 1, 3);
  ++r;
  grid->addWidget(label("Исполн.", artistEdit_), r, 0);
  grid->addWidget(artistEdit_, r, 1);
  grid->addWidget(label("Композ.", composerEdit_), r, 2);
  grid->addWidget(composerEdit_, r, 3);
  ++r;
  grid->addWidget(label("Альбом", albumEdit_), r, 0);
  grid->addWidget(albumEdit_, r, 1);
  grid->addWidget(label("Трек", trackEdit_), r, 2);
  grid->addWidget(trackEdit_, r, 3, Qt::AlignLeft);
  ++r;
  grid->addWidget(label("Год", yearEdit_), r, 0);
  grid->addWidget(yearEdit_, r, 1);
  grid->addWidget(label("Жанр", genreBox_), r, 2);
  grid->addWidget(genreBox_, r, 3);
  ++r;
  grid->addWidget(label("Коментарий", commentBox_), r, 0, Qt::AlignTop);
  grid->addWidget(commentBox_, r, 1, 1, 3);
  ++r;
  grid->addWidget(label("Orig. Artist", oArtistEdit_), r, 0);
  grid->addWidget(oArtistEdit_, r, 1);
  grid->addWidget(label("Copyright", copyrightEdit_), r, 2);
  grid->addWidget(copyrightEdit_, r, 3);
  ++r;
  grid->addWidget(label("URL", urlEdit_), r, 0);
  grid->addWidget(urlEdit_, r, 1);
  grid->addWidget(label("Encoded by", encodedEdit_), r, 2);
  grid->addWidget(encodedEdit_, r, 3);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(copyComp_);
  bottom->addSpacing(12);
  bottom->addWidget(label13_);
  bottom->addStretch(1);
  bottom->addWidget(speedButton2_);
  bottom->addWidget(speedButton1_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addLayout(bottom);
  resize(560, sizeHint().height());

  for (QLineEdit* e : {artistEdit_, albumEdit_, yearEdit_, composerEdit_, trackEdit_, oArtistEdit_,
                       copyrightEdit_, urlEdit_, encodedEdit_})
    connect(e, &QLineEdit::textChanged, this, [this] { Edited(false); });
  connect(titleBox_, &QLineEdit::textChanged, this, [this] { Edited(true); });
  connect(genreBox_, &QComboBox::editTextChanged, this, [this] { Edited(false); });
  connect(commentBox_, &QPlainTextEdit::textChanged, this, [this] { Edited(false); });
  connect(titleBox1_, &QComboBox::activated, this, &TID3Form::TitleBox1Change);
  connect(label13_, &LinkLabel::clicked, this, &TID3Form::Label13Click);
  connect(speedButton2_, &QToolButton::clicked, this, &TID3Form::SpeedButton2Click);
  connect(speedButton1_, &QToolButton::clicked, this, &TID3Form::SpeedButton1Click);
}

void TID3Form::Edited(bool titleChanged) {
  if (loading_ || !DiscMode()) return;
  if (titleChanged && current_ >= 0 && current_ < titleBox1_->count())
    titleBox1_->setItemText(current_, titleBox_->text());
  checkBox1_->setChecked(true);
}

void TID3Form::LoadTag(const TrackTagRecord& record) { LoadTag(TrackTags(record)); }

void TID3Form::LoadTag(const TrackTags& record) {
  loading_ = true;
  if (DiscMode()) titleBox1_->setCurrentIndex(current_);
  titleBox_->setText(FromText(record.Get(TagField::Title)));
  artistEdit_->setText(FromText(record.Get(TagField::Artist)));
  albumEdit_->setText(FromText(record.Get(TagField::Album)));
  yearEdit_->setText(FromText(record.Get(TagField::Year)));
  genreBox_->setEditText(FromText(record.Get(TagField::Genre)));
  commentBox_->setPlainText(FromText(record.Get(TagField::Comment)));
  composerEdit_->setText(FromText(record.Get(TagField::Composer)));
  trackEdit_->setText(FromText(record.Get(TagField::TrackNumber)));
  oArtistEdit_->setText(FromText(record.Get(TagField::OriginalArtist)));
  copyrightEdit_->setText(FromText(record.Get(TagField::Copyright)));
  urlEdit_->setText(FromText(record.Get(TagField::Url)));
  encodedEdit_->setText(FromText(record.Get(TagField::EncodedBy)));
  const bool tagged = record.On();
  if (DiscMode() && !tagged) {
    // Never tagged: start from the album.
    const std::string artist = AlbumText(copy_, copyTexts_, AlbumField::Artist);
    artistEdit_->setText(FromText(artist));
    copyrightEdit_->setText(FromText(artist));
    albumEdit_->setText(FromText(AlbumText(copy_, copyTexts_, AlbumField::AlbumTitle)));
    if (current_ >= 0 && current_ < kMaxAlbumTracks)
      titleBox_->setText(FromText(TrackTitleText(copy_, copyTexts_, current_)));
    genreBox_->setEditText(FromText(AlbumText(copy_, copyTexts_, AlbumField::Genre)));
    yearEdit_->setText(FromText(AlbumText(copy_, copyTexts_, AlbumField::Year)));
    trackEdit_->setText(QString::number(current_ + 1));
    encodedEdit_->setText(Q(encoderName_));
  }
  checkBox1_->setChecked(tagged);
  loading_ = false;
}

void TID3Form::StoreTag(TrackTagRecord& record) const {
  TrackTags tags;
  StoreTags(tags);
  record = tags.Record;
}

void TID3Form::StoreTags(TrackTags& record) const {
  record = TrackTags();
  record.Record.TagsOn = checkBox1_->isChecked() ? 1 : 0;
  record.Set(TagField::Title, ToText(titleBox_->text()));
  record.Set(TagField::Artist, ToText(artistEdit_->text()));
  record.Set(TagField::Album, ToText(albumEdit_->text()));
  record.Set(TagField::Year, ToText(yearEdit_->text()));
  record.Set(TagField::Genre, ToText(genreBox_->currentText()));
  record.Set(TagField::Comment, ToText(commentBox_->toPlainText()));
  record.Set(TagField::Composer, ToText(composerEdit_->text()));
  record.Set(TagField::OriginalArtist, ToText(oArtistEdit_->text()));
  record.Set(TagField::Copyright, ToText(copyrightEdit_->text()));
  record.Set(TagField::Url, ToText(urlEdit_->text()));
  record.Set(TagField::EncodedBy, ToText(encodedEdit_->text()));
  record.Set(TagField::TrackNumber, ToText(trackEdit_->text()));
}

void TID3Form::TitleBox1Change(int index) {
  if (!DiscMode()) {
    if (chooserHandler_) chooserHandler_(index);
    return;
  }
  if (index == current_ || index < 0) return;
  const int n = TrackCount();
  TrackTags left;
  StoreTags(left);
  tags_->SetTags(current_, n, left);
  current_ = index;
  LoadTag(tags_->GetTags(current_, n));
}

void TID3Form::Label13Click() {
  if (!DiscMode()) return;
  AlbumRecord& album = *album_;
  RecordTexts& texts = *albumTexts_;
  auto fill = [&](AlbumField f, const QString& text) {
    if (AlbumText(album, texts, f).empty() && !text.isEmpty())
      SetAlbumText(album, texts, f, ToText(text));
  };
  fill(AlbumField::Year, yearEdit_->text());
  fill(AlbumField::Genre, genreBox_->currentText());
  fill(AlbumField::Artist, artistEdit_->text());
  fill(AlbumField::AlbumTitle, albumEdit_->text());
  const int n = TrackCount();
  for (int i = 0; i < titleBox1_->count() && i < n; ++i) {
    TrackTags tag = tags_->GetTags(i, n);
    tag.Set(TagField::Title, TrackTitleText(album, texts, i));
    tag.Set(TagField::Artist, AlbumText(album, texts, AlbumField::Artist));
    tag.Set(TagField::Album, AlbumText(album, texts, AlbumField::AlbumTitle));
    tag.Set(TagField::Year, AlbumText(album, texts, AlbumField::Year));
    tag.Set(TagField::Genre, AlbumText(album, texts, AlbumField::Genre));
    tag.Set(TagField::OriginalArtist, ToText(oArtistEdit_->text()));
    tag.Set(TagField::EncodedBy, ToText(encodedEdit_->text()));
    tag.Set(TagField::Url, ToText(urlEdit_->text()));
    tag.Set(TagField::Comment, ToText(commentBox_->toPlainText()));
    tag.Set(TagField::Composer, ToText(composerEdit_->text()));
    tag.Set(TagField::Copyright, ToText(copyrightEdit_->text()));
    tag.Set(TagField::TrackNumber, std::to_string(TrackNumberOfRow(album, i)));
    tag.Record.TagsOn = 1;
    tags_->SetTags(i, n, tag);
  }
  checkBox1_->setChecked(true);
}

void TID3Form::SpeedButton2Click() {
  if (!DiscMode()) {
    if (okHandler_) okHandler_();
    else accept();
    return;
  }
  AlbumRecord& album = *album_;
  RecordTexts& texts = *albumTexts_;
  const int n = TrackCount();
  album.Compilation = copyComp_->isChecked() ? 1 : 0;
  TrackTags tag;
  StoreTags(tag);
  tags_->SetTags(current_, n, tag);
  for (int i = 0; i < titleBox1_->count() && i < n; ++i) {
    SetTrackTitleText(album, texts, i, ToText(titleBox1_->itemText(i)));
    if (view_) view_->SetTrackCaption(i, TrackTitleText(album, texts, i));
  }
  if (AlbumText(copy_, copyTexts_, AlbumField::AlbumTitle).empty() &&
      !albumEdit_->text().isEmpty()) {
    SetAlbumText(album, texts, AlbumField::AlbumTitle, ToText(albumEdit_->text()));
    if (view_) view_->SetAlbumName(AlbumText(album, texts, AlbumField::AlbumTitle));
  }
  if (AlbumText(copy_, copyTexts_, AlbumField::Artist).empty()) {
    QString artist = artistEdit_->text().isEmpty() ? oArtistEdit_->text() : artistEdit_->text();
    if (!artist.isEmpty()) SetAlbumText(album, texts, AlbumField::Artist, ToText(artist));
    if (view_) view_->SetArtist(AlbumText(album, texts, AlbumField::Artist));
  }
  accept();
}

void TID3Form::SpeedButton1Click() { reject(); }

}  // namespace sonarvex
