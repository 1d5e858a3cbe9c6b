// The windows of the conversion: "File Conversion" (CPptDlg), which picks
// the source and the destination and runs the conversion worker behind the
// modal progress dialog CPlogressDlg, then lists the files that failed.
//
// Threads: the worker never touches a widget. CConvertUiHost hands its
// progress values and message boxes to the GUI thread as queued calls on
// the conversion dialog, and its end as WM_CONVERT_END posted to the
// progress dialog's platform window target. The conversion dialog outlives
// every run: its destructor cancels and joins a worker still running.
#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>

#include "ConvertWorker.h"
#include "Platform/Types.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class CPptDlg;

// The modal progress dialog of a conversion: it starts the worker when it
// opens and ends with the result that WM_CONVERT_END carries.
class CPlogressDlg : public QDialog {
  Q_OBJECT
 public:
  // `worker` (not owned) holds the running flag that Cancel clears.
  CPlogressDlg(QWidget* parent, CConvertWorker* worker);
  ~CPlogressDlg() override;

  void SetTexts(const std::string& title, const std::string& first, const std::string& second);
  // The count text and the position; ignored once the run was cancelled.
  void SetText(const std::string& text);
  void SetPos(int position);
  // Cancel: clears the running flag; the dialog stays open until the worker
  // ends.
  void OnBnClickedCancel();
  // The target WM_CONVERT_END is posted to.
  HWND GetSafeHwnd() const { return m_hWnd; }

  // Ends the modal run; the next run starts the next worker.
  void done(int result) override;

  QString CountText() const;
  int Position() const;
  QPushButton* CancelButton() const { return m_pCancel; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;  // Escape: as Cancel

 private:
  void OnInitDialog();

  CConvertWorker* m_pWorker;
  HWND m_hWnd = nullptr;
  bool m_bStarted = false;  // the worker of this modal run was started
  QLabel* m_pFirst;
  QLabel* m_pSecond;
  QLabel* m_pCount;
  QProgressBar* m_pProgress;
  QPushButton* m_pCancel;
};

// What the worker reports, handed to the GUI thread as values.
class CConvertUiHost : public IConvertHost {
 public:
  explicit CConvertUiHost(CPptDlg* dialog) : m_pDialog(dialog) {}
  void SetProgressText(const std::string& text) override;
  void SetProgressPos(int position) override;
  void ShowMessage(UINT stringId, UINT type) override;
  void ConvertEnd(int result) override;

 private:
  CPptDlg* m_pDialog;
};

class CPptDlg : public QDialog {
  Q_OBJECT
 public:
  // CheckSourcePath / CheckDirPath results.
  enum { PATH_OK = 0, PATH_EMPTY = 1, PATH_NOT_AVAILABLE = 2, PATH_DECLINED = 4, PATH_CREATE_FAILED = 5 };

  explicit CPptDlg(QWidget* parent = nullptr);
  ~CPptDlg() override;

  // Fresh paths from the settings, empty lists, controls set from the two
  // radio choices (which carry over); run once per modal run (also callable
  // by tests).
  void OnInitDialog();
  // Ends the modal run and asks the main frame to resume the live monitor.
  void done(int result) override;

  // ---- handlers
  void OnBnClickedRadioFile();
  void OnBnClickedRadioFolder();
  void OnBnClickedRadioLocal();
  void OnBnClickedRadioSD();
  void OnBtnRefIn();
  void OnBtnRefInFolder();
  void OnBtnRefOut();
  void OnBnClickedBtnRefOutsd();
  // "Con&vert": checks and runs a conversion; the dialog stays open.
  void OnOK();
  // "Close": saves the three folders and closes.
  void OnBnClickedCancel();

  // ---- checks (1 when the conversion may start)
  int CheckInput();
  // An absolute path that exists, of the kind the mode asks for.
  static int CheckSourcePath(const std::string& path, bool fileMode);
  // Asks to create a missing folder and creates it; *path gets its '/'.
  int CheckDirPath(std::string* path);
  void ShowErrorList();

  // ---- the dialog's values (tests set them through the controls or here)
  std::string m_strSourceFile;
  std::string m_strOutputFolder;
  std::string m_strSourceFolder;
  std::string m_strSDFolder;
  std::string m_strSDFolderText;
  bool m_bFileMode = true;
  bool m_bLocalOutput = true;

  CConvertWorker& Worker() { return *m_pWorker; }
  CPlogressDlg* Progress() const { return m_pProgress; }
  QLineEdit* SourceFileEdit() const { return m_pSourceFileEdit; }
  QLineEdit* SourceFolderEdit() const { return m_pSourceFolderEdit; }
  QLineEdit* OutputEdit() const { return m_pOutputEdit; }
  QLineEdit* SDEdit() const { return m_pSDEdit; }
  QPushButton* ConvertButton() const { return m_pConvert; }
  // Called on the GUI thread after the progress dialog was set up and before
  // it runs (tests use it to act during a run).
  std::function<void(CPlogressDlg*)> onProgressOpen;

  // Queued from the worker's host.
  void PostToGui(std::function<void()> call);

 public slots:
  void accept() override;  // the default button: OnOK
  void reject() override;  // Close and Escape: OnBnClickedCancel

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateData(bool fromControls);
  // The folder chooser (a counted box) over one of the folder values.
  void ChooseFolderInto(std::string CPptDlg::*value);
  void EnableSourceControls();
  void EnableOutputControls();
  void Warn(UINT stringId, QWidget* focus);

  QRadioButton* m_pRadioFile;
  QRadioButton* m_pRadioFolder;
  QRadioButton* m_pRadioLocal;
  QRadioButton* m_pRadioSD;
  QLineEdit* m_pSourceFileEdit;
  QLineEdit* m_pSourceFolderEdit;
  QLineEdit* m_pOutputEdit;
  QLineEdit* m_pSDEdit;
  QPushButton* m_pBrowseFile;
  QPushButton* m_pBrowseFolder;
  QPushButton* m_pBrowseOut;
  QPushButton* m_pBrowseSD;
  QPushButton* m_pConvert;
  QPushButton* m_pClose;

  CConvertUiHost m_Host;
  std::unique_ptr<CConvertWorker> m_pWorker;
  CPlogressDlg* m_pProgress = nullptr;
  bool m_bInitialised = false;  // this modal run has read its paths
  bool m_bRunning = false;
};
