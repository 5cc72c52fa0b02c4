// "MP3 Теги": the dialog that edits one TrackTagRecord.
//
// Disc mode (the main window): edits the tags of the current disc's tracks,
// with the track chooser TitleBox1, defaults from the album for never-tagged
// tracks, "Скопировать во все теги", and on OK writes the titles and album
// fields back to the album record and the main window.
// Record mode (conversion window, album database editor): the caller loads a
// record with LoadTag and takes it back with StoreTag; the disc is not touched.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "records/AlbumRecord.h"
#include "records/TagBuffer.h"
#include "metadata/ui/UiHelpers.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace sonarvex {

class AlbumView;
class LinkLabel;

class TID3Form : public QDialog {
  Q_OBJECT
 public:
  // Record mode.
  explicit TID3Form(QWidget* parent = nullptr);
  // Disc mode. album and tags: the main window's current disc; view: its
  // boxes and track rows (may be null); selectedRow: the selected track row
  // (-1: none); encoderName: "encoded by" for never-tagged tracks (the LAME
  // version text, or the ACM codec's name).
  TID3Form(QWidget* parent, AlbumRecord& album, TagBuffer& tags, AlbumView* view, int selectedRow,
           const std::string& encoderName, const FormColors& colors = {});
  // Disc mode with the album's full texts (the tag buffer holds those of the
  // tags): every text is shown and stored in full.
  TID3Form(QWidget* parent, AlbumRecord& album, RecordTexts& albumTexts, TagBuffer& tags,
           AlbumView* view, int selectedRow, const std::string& encoderName,
           const FormColors& colors = {});

  void LoadTag(const TrackTagRecord& record);
  void LoadTag(const TrackTags& tags);
  // Clears the record and writes the controls into it (StoreTags: with the
  // full texts).
  void StoreTag(TrackTagRecord& record) const;
  void StoreTags(TrackTags& tags) const;

  bool DiscMode() const { return album_ != nullptr; }
  int CurrentTrack() const { return current_; }

  // Record mode: what OK does (default: close with accept) and what choosing
  // in TitleBox1 does (default: nothing).
  void SetOkHandler(std::function<void()> handler) { okHandler_ = std::move(handler); }
  void SetChooserHandler(std::function<void(int)> handler) {
    chooserHandler_ = std::move(handler);
  }

  QComboBox* TitleBox1() const { return titleBox1_; }
  QCheckBox* CopyComp() const { return copyComp_; }
  LinkLabel* Label13() const { return label13_; }
  QCheckBox* CheckBox1() const { return checkBox1_; }

 public slots:
  void SpeedButton2Click();  // OK
  void SpeedButton1Click();  // Cancel
  void Label13Click();       // "Скопировать во все теги"
  void TitleBox1Change(int index);

 private:
  void Build();
  void Edited(bool titleChanged);
  int TrackCount() const;

  // Disc mode state.
  AlbumRecord* album_ = nullptr;  // the main window's record
  RecordTexts ownTexts_;          // without the caller's texts
  RecordTexts* albumTexts_ = &ownTexts_;
  AlbumRecord copy_{};            // taken when the dialog opened
  RecordTexts copyTexts_;
  TagBuffer* tags_ = nullptr;
  AlbumView* view_ = nullptr;
  std::string encoderName_;
  int current_ = 0;
  bool loading_ = false;
  std::function<void()> okHandler_;
  std::function<void(int)> chooserHandler_;

  QCheckBox* checkBox1_;
  QLineEdit* titleBox_;
  QLineEdit* artistEdit_;
  QLineEdit* albumEdit_;
  QLineEdit* yearEdit_;
  QComboBox* genreBox_;
  QPlainTextEdit* commentBox_;
  QLineEdit* composerEdit_;
  QLineEdit* trackEdit_;
  QLineEdit* oArtistEdit_;
  QLineEdit* copyrightEdit_;
  QLineEdit* urlEdit_;
  QLineEdit* encodedEdit_;
  QComboBox* titleBox1_;
  QCheckBox* copyComp_;
  LinkLabel* label13_;
  QToolButton* speedButton2_;
  QToolButton* speedButton1_;
};

}  // namespace sonarvex
