// The small dialogs of the card tools: the transfer's progress window, the
// error list and "Create New Folder".
#pragma once

#include <QDialog>
#include <QPointer>

#include <string>
#include <vector>

#include "TransErrEntry.h"
#include "Platform/Types.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class QLabel;
class QProgressBar;
class QPushButton;

// The controls of a batch's progress window, laid out alike for the card
// transfer and the conversion: the step text, the bar, the count, Cancel.
struct CProgressControls {
  QLabel* first;
  QProgressBar* progress;
  QLabel* second;
  QLabel* count;
  QPushButton* cancel;
};
CProgressControls BuildProgressControls(QDialog* dialog);

// The modeless progress window of a job that runs on the GUI thread and
// pumps it between steps; Cancel clears the caller's running flag.
class CCnvPlogressDlg : public QDialog {
  Q_OBJECT
 public:
  CCnvPlogressDlg(QWidget* owner, int* running);
  ~CCnvPlogressDlg() override;

  // Disables the owner's controls and shows the window; 0 without owner.
  int ShowDialog();
  void SetText(const std::string& text);  // the count, "3 / 10"
  void SetPos(int position);              // clamped to 0..100
  void SetCaption(const std::string& first, const std::string& second);
  // Lets waiting events run; 0 when the application is ending (the window
  // is then closed).
  int Pump();
  void Close();

  QString CountText() const;
  int Position() const;
  QPushButton* CancelButton() const { return m_pCancel; }

 protected:
  void reject() override;  // Cancel and Escape
  void closeEvent(QCloseEvent* event) override;

 private:
  int* m_pRunning;
  QPointer<QWidget> m_pOwner;
  std::vector<QPointer<QWidget>> m_Disabled;  // the owner's controls this window disabled
  bool m_bShown = false;
  QLabel* m_pFirst;
  QLabel* m_pSecond;
  QLabel* m_pCount;
  QProgressBar* m_pProgress;
  QPushButton* m_pCancel;
};

// The list of files a batch failed on, with the reasons.
class CTransErrDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CTransErrDlg(QWidget* parent = nullptr);

  static BOOL AddError(const std::string& message, const std::string& fileName, CErrorList* list) {
    return AddTransErrEntry(message, fileName, list);
  }
  void SetTitle(const std::string& title) { m_strTitle = title; }
  void SetLabel(const std::string& label) { m_strLabel = label; }
  void SetErrorList(const CErrorList* list) { m_pList = list; }
  // Caption, label, columns and rows (run by showEvent, callable for tests).
  void OnInitDialog();
  QTreeWidget* List() const { return m_pTable; }
  QString LabelText() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FillList();

  std::string m_strTitle;
  std::string m_strLabel;
  const CErrorList* m_pList = nullptr;
  QLabel* m_pLabel;
  QTreeWidget* m_pTable;
  bool m_bInitialised = false;
};

// Asks for the name of a new card folder; only a DCF folder name is accepted.
class CCreateSDDialog : public QDialog {
  Q_OBJECT
 public:
  explicit CCreateSDDialog(QWidget* parent = nullptr);
  std::string m_strName;
  QLineEdit* Edit() const { return m_pEdit; }

 public slots:
  void accept() override;

 private:
  QLineEdit* m_pEdit;
};
