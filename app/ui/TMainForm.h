// The main window: the tracks of the disc in the chosen drive, the toolbar,
// the transport bar and the status line. Every other window opens from here.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <QPixmap>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "rip/RipPipeline.h"
#include "drive/EjectToggle.h"
#include "records/AlbumRecord.h"
#include "records/SettingsRecord.h"
#include "records/TagBuffer.h"
#include "records/WindowState.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QFileSystemWatcher;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace sonarvex {

class NoticeLabel;

class Dialogs;
struct VolumeMode;
class PositionBar;
class Session;
class TConvertForm;
class TMainWriteForm;
class TMP3Config;
class TSettingsForm;
class Transport;

// What the window needs beyond the Session.
struct MainFormContext {
  // Called for the window's message pump (long operations); tests may replace it.
  std::function<void()> Pump;
  // False: no disc is looked up by itself when it is read, whatever the
  // settings say (tests that reach no network).
  bool AutoLookup = true;
};

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // Shows the program that `session` holds; the session outlives the window.
  explicit TMainForm(Session& session, const MainFormContext& context = {},
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  // Loads the profile list and the active profile's settings, then applies them.
  void LoadProfiles();
  void LoadSettings(const std::string& fileName);
  bool SaveSettings(const std::string& fileName);
  // Opens the settings dialog (modal) and applies what it changed.
  void OpenSettings();
  void OpenSettings(bool* accepted);
  // owner: the window the dialog belongs to; mp3Sheet: opened on the audio
  // page's MP3 sheet without the play buttons (from the conversion window).
  void OpenSettings(bool* accepted, QWidget* owner, bool mp3Sheet);
  // The conversion window (F5), shown in the main window's place.
  void ConvertFiles();
  // The media search (Ctrl+F): found files fill the list (FileList state),
  // which can be played and written as an M3U list (Ctrl+L).
  void SearchMedia();
  // The recording window (F10), shown in the main window's place.
  void RecordAudioCd();
  void CreateM3uList();
  bool FilePlaying() const { return filePlaying_; }
  // The output folder is missing: the settings dialog on its first page;
  // true when it was confirmed.
  bool OpenSettingsForFolder();

  void SetControlsEnabled(bool on);
  void LayoutToolbar();
  void ApplyColours();
  // The grid, the toolbar, the sizes and the colours as the settings say.
  void ApplyDisplaySettings();
  // Takes the settings another program changed on disk (see Session).
  void TakeSettingsChangedOnDisk();
  void RecomputeSizes();
  // Reads the disc of the current drive and fills the list; saveFirst: the
  // disc being left is saved first.
  void ReadDisc(bool saveFirst = true);

  // Commands.
  void Refresh();
  void TickAll(bool on);
  void Play(bool tickedOnly);
  void Pause();
  void Step(int s);
  void Stop();
  void Eject();
  void DriveReport();
  void Grab(GrabSender sender);
  void ShowMp3Config();
  void OpenTagEditor();
  void CddbLookupCommand();
  // The notice of the last automatic lookup, as the status line shows it.
  QString LookupNotice() const;
  void OpenAlbumEditor();
  // Stores the volume and applies it (the drive's analog output when
  // VolumeOnDrive is on).
  void SetVolume(int v);
  void StartPlayer();
  void OpenHelp();
  void ShowAbout();
  void RenameSelected();

  // State, for tests.
  Session& Program() { return session_; }
  SettingsRecord& Settings() { return settings_; }
  AlbumRecord& Album() { return album_; }
  TagBuffer& Tags() { return tags_; }
  WindowState State() const { return state_; }
  void SetState(WindowState s) { state_ = s; }
  bool DiscPresent() const;
  QTreeWidget* TrackList() const { return listView_; }
  Transport& CurrentTransport();
  int CurrentTrack() const { return currentTrack_; }
  // One tick of the status timer.
  void OnTimer();

  // Commands whose windows are not part of the program yet stay disabled.
  static bool Available(const std::string& component);

  // The settings dialog while it is open (else null).
  TSettingsForm* SettingsForm() const { return settingsForm_; }
  // Runs when the settings dialog has just been created (tests answer it).
  std::function<void(TSettingsForm&)> SettingsFormOpened;
  // Runs when the conversion window has just been created.
  std::function<void(TConvertForm&)> ConvertFormOpened;
  // Runs when the recording window has just been created.
  std::function<void(TMainWriteForm&)> RecordFormOpened;

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildToolbar(QWidget* parent);
  void BuildTrackList();
  void BuildArtistPanel(QWidget* parent);
  void BuildTransportPanel(QWidget* parent);
  void BuildStatusPanel(QWidget* parent);
  void BuildMenus();
  QToolButton* AddToolButton(QWidget* parent, const char* name, const QString& hint,
                             const QString& theme, const QString& label, unsigned rgb);
  QAction* AddAction(QMenu* menu, const char* name, const QString& caption,
                     const QKeySequence& shortcut = {});
  void SetComponentEnabled(const std::string& name, bool on);
  bool ComponentEnabled(const std::string& name) const;
  void SetNoDisc();
  void FillTrackList();
  void UpdateCaption();
  void Shutdown();
  // Shown again after a window that took its place (not minimised).
  void ShowAgain();
  void DrawSizeBox();
  void RebuildDriveList();
  // Selects the stored drive with its stored drive type on the current transport.
  void RestoreDrive();
  // Digital playback: the player is initialised on first use.
  bool DigitalReady();
  bool DigitalPlaying() const;
  void OpenMixer();
  void PlayFile(int row);
  void StopFile();
  VolumeMode VolumeModeNow() const;
  void PlayTrack(int i);
  void SaveCurrentAlbum();
  // Looks a disc the album database does not know up (see Session::AutoLookup).
  void AutoLookup();
  void FillArtistBox(bool fromAlbum);
  void SetTimePanel(int track, int sector);
  void Seek(double position);

  Session& session_;
  MainFormContext context_;
  Dialogs& dialogs_;
  // The session's records, which the window shows and edits.
  SettingsRecord& settings_;
  AlbumRecord& album_;
  TagBuffer& tags_;
  WindowState state_ = WindowState::Idle;
  bool hasAudioTracks_ = false;
  int currentTrack_ = 0;
  bool lastReady_ = false;
  bool suppressPlay_ = false;
  bool closeRequested_ = false;  // the window was closed during a grab
  bool filePlaying_ = false;  // a file of the list plays with the media player
  bool filePaused_ = false;
  bool digitalTried_ = false;   // the digital player's Init has run
  bool digitalUsable_ = false;  // and found the sound device
  Msf pausePosition_{};
  EjectToggle eject_;
  bool playTickedOnly_ = false;
  bool m3uVisible_ = false;
  int discTrackWidth_ = 0;  // the title column's width while found files are shown
  bool shutDown_ = false;
  TSettingsForm* settingsForm_ = nullptr;
  TMP3Config* mp3Config_ = nullptr;
  QRect mp3ConfigGeometry_;
  struct Hosts;
  std::unique_ptr<Hosts> hosts_;
  void ShowProfileMenu();

  // Components.
  QWidget* panel1_ = nullptr;
  QWidget* panel2_ = nullptr;
  QWidget* panel3_ = nullptr;
  QWidget* panel4_ = nullptr;
  std::vector<QToolButton*> toolbar_;  // in kToolbarOrder
  QToolButton* profButton_ = nullptr;
  QToolButton* exitButton_ = nullptr;
  QTreeWidget* listView_ = nullptr;
  QComboBox* groupEdit_ = nullptr;
  QLineEdit* albumNameEdit_ = nullptr;
  PositionBar* positionBar_ = nullptr;
  QSlider* volumeBar_ = nullptr;
  QComboBox* cdromBox_ = nullptr;
  QLabel* trackPanel_ = nullptr;
  QLabel* allTimePanel_ = nullptr;
  QLabel* sizePanel_ = nullptr;
  QLabel* sSizeBox_ = nullptr;
  QLabel* timePanel_ = nullptr;
  NoticeLabel* findLabel_ = nullptr;
  // The front cover of the disc's release beside the album box (hidden
  // without one).
  QLabel* coverImage_ = nullptr;
  void ShowCover(bool fetch);
  QMenu* popupMenu1_ = nullptr;
  QMenu* profMenu_ = nullptr;
  QTimer* timer1_ = nullptr;
  QFileSystemWatcher* settingsWatcher_ = nullptr;
};

}  // namespace sonarvex
