// The settings dialog "Настройки": eight pages over a private copy of the
// settings and of the album record, copied back into the main window on OK,
// and over the options of the INI store, stored through ProgramFacts on OK.
// The window is thin: SettingsFormModel holds the values and the rules.
#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>

#include "settings/SettingsFormModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;
class QGroupBox;

namespace sonarvex {

class TSettingsForm : public QDialog {
  Q_OBJECT
 public:
  // Create(owner): takes the main window's records, its host services, what
  // the program holds and the message service. The caller shows the dialog modally and frees it.
  TSettingsForm(SettingsRecord& settings, AlbumRecord& album, TagBuffer& tags,
                SettingsFormHost& host, ProgramFacts& program, Dialogs& dialogs,
                QWidget* owner = nullptr, RecordTexts* settingsTexts = nullptr,
                const RecordTexts* albumTexts = nullptr);

  SettingsFormModel& Model() { return model_; }
  bool Accepted() const { return model_.Accepted(); }

  // The main window's status timer: track `track` plays at `sector` frames
  // into it. On the page "Записи", with "Текущая позиция" down and the same
  // track shown, the active range slider follows.
  void TimerPosition(int track, int sector);

  // The colour dialog of the "..." buttons (tests replace it). It gets the
  // current COLORREF and gives the chosen one, nullopt when cancelled.
  using ColourChooser = std::function<std::optional<std::uint32_t>(std::uint32_t)>;
  void SetColourChooser(ColourChooser chooser) { chooseColour_ = std::move(chooser); }

 public slots:
  void SpeedButton2Click();  // OK
  void SpeedButton1Click();  // Cancel

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* BuildFilesPage();
  QWidget* BuildRangePage();
  QWidget* BuildGeneralPage();
  QWidget* BuildAudioPage();
  QWidget* BuildCdromPage();
  QWidget* BuildFreeDbPage();
  QWidget* BuildSearchPage();
  QWidget* BuildViewPage();

  void WriteWidgets();  // every control from the model
  void ReadWidgets();   // the model from every control
  void ShowCodec(const CodecView& view);
  void ApplyVbrRule();
  void ApplyFormatRule();
  void ShowReadOffset();
  void FormatEditChanged();
  void ShowRange();
  void UpdateArrow();
  void FillExtensions();
  void ApplyColours();
  void FocusControl(const std::string& name);
  void UpdatePageButtons();

  SettingsFormModel model_;
  ColourChooser chooseColour_;
  bool programmatic_ = false;

  // Components.
  QLineEdit* workDir_ = nullptr;
  QToolButton* speedButton3_ = nullptr;
  QTabWidget* pageControl1_ = nullptr;
  QTabWidget* pageControl2_ = nullptr;
  QTabWidget* pageControl3_ = nullptr;
  QToolButton* speedButton11_ = nullptr;
  QToolButton* speedButton16_ = nullptr;
  QToolButton* speedButton2_ = nullptr;
  QToolButton* speedButton1_ = nullptr;
  // Файлы
  QCheckBox *fileUseTrackName_, *fileUseAlbumName_, *fileUseArtistName_, *fileUseTrackNum_;
  QCheckBox *dirAsArtistName_, *dirAsAlbumName_, *useFormatString_;
  QLineEdit* formatEdit_ = nullptr;
  QLabel* testLabel_ = nullptr;
  // Записи
  QComboBox* trackNames_ = nullptr;
  QSlider *secBar_ = nullptr, *endBar_ = nullptr;
  QLabel *labelTime1_ = nullptr, *labelTime2_ = nullptr, *paintBox1_ = nullptr;
  QToolButton* cbPos_ = nullptr;
  // Общие
  QCheckBox *ejectACopy_, *priorityBox_, *shutComp_, *useAsCDPlayerBox_, *volumeOnCDBox_,
      *showGridBox_, *dpBox_, *lockCDBox_, *checkBox1_, *onTheFlyEncodingBox_;
  QCheckBox *ripLogLosslessBox_, *ripLogCompressedBox_;
  QSpinBox* ripWorkersBox_ = nullptr;
  // Аудио
  QComboBox *codecBox_, *formatBox_, *maxBR_, *vbrBox_, *vbrqBox_, *lameModeBox_, *lameQualityBox_;
  QLabel *label9_, *label22_, *vbrLabel_, *label24_, *label25_;
  QCheckBox* oggQualityBox_ = nullptr;
  QSlider* oggBar_ = nullptr;
  QLabel* qualityLabel_ = nullptr;
  QComboBox *oggMinBRBox_, *oggNomBRBox_, *oggMaxBRBox_, *wmaBitrateBox_, *decodeFileBox_;
  QCheckBox* useDRMBox_ = nullptr;
  QLineEdit *minEdit_, *setMinEdit_, *maxEdit_, *setMaxEdit_;
  QLabel *flacLevelLabel_, *flacNote_;
  QSpinBox* flacLevelBox_ = nullptr;
  QLabel *opusBitrateLabel_, *opusNote_;
  QSpinBox* opusBitrateBox_ = nullptr;
  QCheckBox* flacVerifyBox_ = nullptr;
  QComboBox* replayGainBox_ = nullptr;
  // CDROM
  QComboBox *deviceName_, *speedBox_, *driveTypeBox_;
  QCheckBox *cbMaxSpeed_, *errorCorectionBox_;
  QLineEdit* numSecReadEdit_ = nullptr;
  QRadioButton *sptiBtn_, *aspiBtn_;
  QToolButton* detReadCommand_ = nullptr;
  QLabel* readOffsetLabel_ = nullptr;
  QSpinBox* readOffsetBox_ = nullptr;
  QToolButton* findOffset_ = nullptr;
  QComboBox* ripSecureBox_ = nullptr;
  QSpinBox* ripSecureReadsBox_ = nullptr;
  QCheckBox *ripC2Box_ = nullptr, *ripTestAndCopyBox_ = nullptr, *ripHiddenTrackBox_ = nullptr;
  // FreeDB
  QLineEdit *serverEdit_, *pathEdit_, *proxyEdit_, *portEdit_, *userEdit_, *passwordEdit_;
  QLineEdit* arServerEdit_ = nullptr;
  QCheckBox* autoLookupBox_ = nullptr;
  QCheckBox *musicBrainzBox_ = nullptr, *coverArtBox_ = nullptr;
  QLineEdit *musicBrainzServerEdit_ = nullptr, *coverArtServerEdit_ = nullptr;
  QComboBox* coverSizeBox_ = nullptr;
  // Поиск
  QListWidget* extListBox_ = nullptr;
  QLineEdit* edit1_ = nullptr;
  QToolButton* speedButton6_ = nullptr;
  // Вид
  QCheckBox *showPlayer_, *showConvert_, *showFreeDB_, *showFIND_, *showBURN_, *showWAVE_,
      *showWMA_, *mp3AsOggBox_;
  QComboBox *windowColorBox_, *controlColorBox_;
  QToolButton *speedButton4_, *speedButton7_;
  QLabel *label26_, *label37_;
};

}  // namespace sonarvex
