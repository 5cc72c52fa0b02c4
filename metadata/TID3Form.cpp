#include "metadata/TID3Form.h"

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
#include "metadata/LinkLabel.h"
#include "metadata/Xmcd.h"
#include "platform/Cp1251.h"
#include "platform/QtText.h"

namespace sonarvex {
namespace {

// Record text (CP1251) to the screen and back. The memo shows line feeds; the
// record keeps the CR LF pairs of the stored files.
template <std::size_t N>
QString FromField(const char (&field)[N]) {
  QString text = Q(Cp1251ToUtf8(FieldText(field)));
  text.replace("\r\n", "\n");
  return text;
}
template <std::size_t N>
void ToField(char (&field)[N], const QString& text) {
  QString t = text;
  t.replace("\r\n", "\n").replace("\n", "\r\n");
  SetField(field, Utf8ToCp1251(S(t)));
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
    : QDialog(parent),
      album_(&album),
      copy_(album),
      tags_(&tags),
      view_(view),
      encoderName_(encoderName) {
  Build();
  const int n = TrackCount();
  for (int i = 0; i < n; ++i) titleBox1_->addItem(FromField(copy_.Tracks[i].Title));
  current_ = selectedRow >= 0 && selectedRow < n ? selectedRow : 0;
  LoadTag(tags_->Get(current_, n));
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

void TID3Form::LoadTag(const TrackTagRecord& record) {
  loading_ = true;
  if (DiscMode()) titleBox1_->setCurrentIndex(current_);
  titleBox_->setText(FromField(record.Title));
  artistEdit_->setText(FromField(record.Artist));
  albumEdit_->setText(FromField(record.Album));
  yearEdit_->setText(FromField(record.Year));
  genreBox_->setEditText(FromField(record.Genre));
  commentBox_->setPlainText(FromField(record.Comment));
  composerEdit_->setText(FromField(record.Composer));
  trackEdit_->setText(FromField(record.TrackNumber));
  oArtistEdit_->setText(FromField(record.OriginalArtist));
  copyrightEdit_->setText(FromField(record.Copyright));
  urlEdit_->setText(FromField(record.Url));
  encodedEdit_->setText(FromField(record.EncodedBy));
  const bool tagged = record.TagsOn != 0;
  if (DiscMode() && !tagged) {
    // Never tagged: start from the album.
    artistEdit_->setText(FromField(copy_.Artist));
    copyrightEdit_->setText(FromField(copy_.Artist));
    albumEdit_->setText(FromField(copy_.AlbumTitle));
    if (current_ >= 0 && current_ < kMaxAlbumTracks)
      titleBox_->setText(FromField(copy_.Tracks[current_].Title));
    genreBox_->setEditText(FromField(copy_.Genre));
    yearEdit_->setText(FromField(copy_.Year));
    trackEdit_->setText(QString::number(current_ + 1));
    encodedEdit_->setText(Q(encoderName_));
  }
  checkBox1_->setChecked(tagged);
  loading_ = false;
}

void TID3Form::StoreTag(TrackTagRecord& record) const {
  record = TrackTagRecord{};
  record.TagsOn = checkBox1_->isChecked() ? 1 : 0;
  ToField(record.Title, titleBox_->text());
  ToField(record.Artist, artistEdit_->text());
  ToField(record.Album, albumEdit_->text());
  ToField(record.Year, yearEdit_->text());
  ToField(record.Genre, genreBox_->currentText());
  ToField(record.Comment, commentBox_->toPlainText());
  ToField(record.Composer, composerEdit_->text());
  ToField(record.OriginalArtist, oArtistEdit_->text());
  ToField(record.Copyright, copyrightEdit_->text());
  ToField(record.Url, urlEdit_->text());
  ToField(record.EncodedBy, encodedEdit_->text());
  ToField(record.TrackNumber, trackEdit_->text());
}

void TID3Form::TitleBox1Change(int index) {
  if (!DiscMode()) {
    if (chooserHandler_) chooserHandler_(index);
    return;
  }
  if (index == current_ || index < 0) return;
  const int n = TrackCount();
  TrackTagRecord left;
  StoreTag(left);
  tags_->Set(current_, n, left);
  current_ = index;
  LoadTag(tags_->Get(current_, n));
}

void TID3Form::Label13Click() {
  if (!DiscMode()) return;
  AlbumRecord& album = *album_;
  auto fill = [](auto& field, const QString& text) {
    if (FieldText(field).empty() && !text.isEmpty()) ToField(field, text);
  };
  fill(album.Year, yearEdit_->text());
  fill(album.Genre, genreBox_->currentText());
  fill(album.Artist, artistEdit_->text());
  fill(album.AlbumTitle, albumEdit_->text());
  const int n = TrackCount();
  for (int i = 0; i < titleBox1_->count() && i < n; ++i) {
    TrackTagRecord tag = tags_->Get(i, n);
    SetField(tag.Title, FieldText(album.Tracks[i].Title));
    SetField(tag.Artist, FieldText(album.Artist));
    SetField(tag.Album, FieldText(album.AlbumTitle));
    SetField(tag.Year, FieldText(album.Year));
    SetField(tag.Genre, FieldText(album.Genre));
    ToField(tag.OriginalArtist, oArtistEdit_->text());
    ToField(tag.EncodedBy, encodedEdit_->text());
    ToField(tag.Url, urlEdit_->text());
    ToField(tag.Comment, commentBox_->toPlainText());
    ToField(tag.Composer, composerEdit_->text());
    ToField(tag.Copyright, copyrightEdit_->text());
    SetField(tag.TrackNumber, std::to_string(i + 1));
    tag.TagsOn = 1;
    tags_->Set(i, n, tag);
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
  const int n = TrackCount();
  album.Compilation = copyComp_->isChecked() ? 1 : 0;
  TrackTagRecord tag;
  StoreTag(tag);
  tags_->Set(current_, n, tag);
  for (int i = 0; i < titleBox1_->count() && i < n; ++i) {
    ToField(album.Tracks[i].Title, titleBox1_->itemText(i));
    if (view_) view_->SetTrackCaption(i, Cp1251ToUtf8(FieldText(album.Tracks[i].Title)));
  }
  if (FieldText(copy_.AlbumTitle).empty() && !albumEdit_->text().isEmpty()) {
    ToField(album.AlbumTitle, albumEdit_->text());
    if (view_) view_->SetAlbumName(Cp1251ToUtf8(FieldText(album.AlbumTitle)));
  }
  if (FieldText(copy_.Artist).empty()) {
    QString artist = artistEdit_->text().isEmpty() ? oArtistEdit_->text() : artistEdit_->text();
    if (!artist.isEmpty()) ToField(album.Artist, artist);
    if (view_) view_->SetArtist(Cp1251ToUtf8(FieldText(album.Artist)));
  }
  accept();
}

void TID3Form::SpeedButton1Click() { reject(); }

}  // namespace sonarvex
