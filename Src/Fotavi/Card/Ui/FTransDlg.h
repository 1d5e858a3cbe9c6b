// "File transfer": copies the DCF-named JPEG pictures of a folder on the
// computer into a card folder, file by file on the GUI thread behind a
// progress window, and lists the files that failed.
#pragma once

#include <QDialog>

#include <string>

#include "Platform/Types.h"

class QLineEdit;
class QPushButton;

class CFTransDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CFTransDlg(QWidget* parent = nullptr);
  ~CFTransDlg() override;

  void Clear();
  void LoadSettings();
  // "&Transfer": checks and runs the transfer (the dialog stays open).
  void OnTransfer();
  // "&Browse..." and "B&rowse...".
  void OnBnClickedBtnFrom();
  void OnBnClickedBtnTo();
  BOOL CheckInput();
  int TransFiles();

  std::string m_strSrcFolder;
  std::string m_strSDFolder;
  std::string m_strDstFolder;

  QLineEdit* SourceEdit() const { return m_pSrcEdit; }
  QLineEdit* DestinationEdit() const { return m_pDstEdit; }
  QPushButton* TransferButton() const { return m_pTransfer; }
  // The progress window of the transfer running now (tests).
  class CCnvPlogressDlg* Progress() const { return m_pProgress; }

 public slots:
  void reject() override;  // "Close": saves the source folder

 private:
  void closeEvent(QCloseEvent* event) override;
  void UpdateData(bool fromControls);
  void EnableControls(bool enable);

  QLineEdit* m_pSrcEdit;
  QLineEdit* m_pDstEdit;
  QPushButton* m_pBrowseFrom;
  QPushButton* m_pBrowseTo;
  QPushButton* m_pTransfer;
  QPushButton* m_pClose;
  class CCnvPlogressDlg* m_pProgress = nullptr;
  bool m_bTransferring = false;  // the dialog does not close under a running transfer
};
