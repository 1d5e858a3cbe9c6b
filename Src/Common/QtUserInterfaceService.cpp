#include "QtUserInterfaceService.h"

#include "WindowHelpers.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

// Runs `fn` on the application's thread and waits for it.
template <typename Fn>
auto OnGuiThread(Fn fn) -> decltype(fn()) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) return fn();
  decltype(fn()) result{};
  QMetaObject::invokeMethod(app, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
  return result;
}

QMessageBox::Icon IconFor(UINT type) {
  switch (type & MB_ICONMASK) {
    case MB_ICONHAND: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONASTERISK: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

// A filter as Qt's file box reads it: "description (patterns)", the
// patterns parted by blanks and the parenthesis last. A description that
// names its patterns itself ("Movie file (*.wmv;*.avi) ") keeps them, with
// blanks between them and nothing after the parenthesis; otherwise the
// patterns are added.
QString QtNameFilter(QString description, const QString& patterns) {
  description = description.trimmed();
  const qsizetype open = description.lastIndexOf('(');
  if (open < 0 || !description.endsWith(')')) return description + " (" + patterns + ")";
  QString shown = description.mid(open);
  shown.replace(';', ' ');
  return description.left(open) + shown.simplified();
}

}  // namespace

QWidget* CQtUserInterfaceService::ParentWidget() {
  // The window in front: a modal tool, else the active window, else the
  // program's main window (a box always belongs to a window, and goes with it).
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->isVisible() && w->inherits("QMainWindow")) return w;
  return nullptr;
}

int CQtUserInterfaceService::MessageBox(HWND, const std::string& text, const std::string& caption, UINT type) {
  return OnGuiThread([&]() -> int {
    QMessageBox box(IconFor(type), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::NoButton, ParentWidget());
    struct ButtonAnswer {
      QMessageBox::StandardButton button;
      int answer;
    };
    std::vector<ButtonAnswer> buttons;
    switch (type & MB_TYPEMASK) {
      case MB_OKCANCEL: buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
      case MB_YESNOCANCEL:
        buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
      case MB_YESNO: buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
      case MB_RETRYCANCEL: buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}}; break;
      default: buttons = {{QMessageBox::Ok, IDOK}}; break;
    }
    for (const auto& b : buttons) box.addButton(b.button);
    const size_t defaultIndex = (type & MB_DEFBUTTON3) ? 2 : (type & MB_DEFBUTTON2) ? 1 : 0;
    if (defaultIndex < buttons.size()) box.setDefaultButton(buttons[defaultIndex].button);
    FitWidthToCaption(&box);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const auto& b : buttons) {
      if (clicked == box.button(b.button)) return b.answer;
    }
    // Closed without a button (Escape or the close box): Cancel when there is
    // one, else the only answer the box offers.
    for (const auto& b : buttons) {
      if (b.answer == IDCANCEL) return IDCANCEL;
    }
    return buttons.size() == 1 ? buttons.front().answer : IDCANCEL;
  });
}

namespace {
// The detail view's size, type and date columns follow their contents (no
// "38....KiB"); the name column takes the rest.
void FitColumnsToContents(QFileDialog& dialog) {
  dialog.setViewMode(QFileDialog::Detail);
  for (QTreeView* tree : dialog.findChildren<QTreeView*>()) {
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    for (int column = 1; column < header->count(); ++column)
      header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    if (header->count() > 0) header->setSectionResizeMode(0, QHeaderView::Stretch);
  }
}
}  // namespace

// A file box that can refuse a path whose folder does not exist: it stays
// open and says so in a box of its own (shown without a loop of its own).
class CFileBox : public QFileDialog {
 public:
  CFileBox(QWidget* parent, const QString& title, const QString& folder, bool pathMustExist)
      : QFileDialog(parent, title, folder), m_bPathMustExist(pathMustExist) {
    // A desktop's own box would not ask this box before it accepts.
    if (pathMustExist) setOption(QFileDialog::DontUseNativeDialog);
  }

 protected:
  void accept() override {
    const QStringList files = selectedFiles();
    if (m_bPathMustExist && !files.isEmpty()) {
      const QFileInfo chosen(files.first());
      if (!chosen.isDir() && !chosen.absoluteDir().exists()) {
        auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                    chosen.absolutePath() + QStringLiteral("\nThe folder does not exist.\n"
                                                                           "Check the path and try again."),
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // Back to the box to correct the name.
        connect(box, &QDialog::finished, this, [this] { activateWindow(); });
        box->open();
        return;
      }
    }
    QFileDialog::accept();
  }

 private:
  bool m_bPathMustExist;
};

namespace {
// A file box set up as `request` asks; the filters as shown, for the answer.
CFileBox* MakeFileBox(QWidget* parent, const FileChooserRequest& request, QStringList* shownFilters) {
  auto* dialog = new CFileBox(parent, QString::fromStdString(request.title), QString::fromStdString(request.folder),
                              request.pathMustExist);
  dialog->setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog->setFileMode(request.save ? QFileDialog::AnyFile
                                   : (request.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile));
  if (!request.confirmOverwrite) dialog->setOption(QFileDialog::DontConfirmOverwrite);
  if (!request.defaultExtension.empty()) dialog->setDefaultSuffix(QString::fromStdString(request.defaultExtension));
  QStringList filters;
  for (const auto& [description, patterns] : request.filters) {
    QString list = QString::fromStdString(patterns);
    list.replace(';', ' ');
    filters << QtNameFilter(QString::fromStdString(description), list);
  }
  if (!filters.isEmpty()) {
    dialog->setNameFilters(filters);
    if (request.filterIndex >= 0 && request.filterIndex < filters.size()) {
      dialog->selectNameFilter(filters[request.filterIndex]);
    }
  }
  if (!request.fileName.empty()) {
    // A name with a folder opens that folder and puts the bare name in the name field.
    const QFileInfo start(QString::fromStdString(request.fileName));
    if (request.fileName.find('/') != std::string::npos) {
      dialog->setDirectory(start.absolutePath());
      dialog->selectFile(start.fileName());
    } else {
      dialog->selectFile(start.filePath());
    }
  }
  FitColumnsToContents(*dialog);
  *shownFilters = filters;
  return dialog;
}

FileChooserResult AnswerOf(const QFileDialog& dialog, const QStringList& filters) {
  FileChooserResult result;
  if (dialog.result() != QDialog::Accepted) return result;
  for (const QString& file : dialog.selectedFiles()) result.paths.push_back(file.toStdString());
  result.accepted = !result.paths.empty();
  result.filterIndex = std::max(0, static_cast<int>(filters.indexOf(dialog.selectedNameFilter())));
  return result;
}

// Shows `dialog` modal to its window without waiting; `answer` runs when
// the user has answered, then the box goes; `gone` when it has gone.
void OpenWithoutWaiting(QFileDialog* dialog, std::function<void()> answer, std::function<void()> gone) {
  QObject::connect(dialog, &QObject::destroyed, [gone = std::move(gone)] {
    if (gone) gone();
  });
  QObject::connect(dialog, &QDialog::finished, dialog, [dialog, answer = std::move(answer)](int) {
    // Once: a second finish (a close after the answer) finds nothing to do.
    QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
    dialog->hide();
    // The answer is handled from a turn of its own, after the box's own
    // finish has returned: what the answer does (a message in front of the
    // window, the window closed) cannot free the box under that finish.
    // Then the box goes, unless its window took it along meanwhile. By a
    // timer, not a deferred delete, which waits for a loop of its own level.
    QTimer::singleShot(0, dialog, [dialog, answer] {
      const QPointer<QFileDialog> box(dialog);
      if (answer) answer();
      delete box.data();
    });
  });
  dialog->open();
}
}  // namespace

FileChooserResult CQtUserInterfaceService::ChooseFile(HWND, const FileChooserRequest& request) {
  // The waiting form, for callers off the user-interface thread; the
  // programs' boxes use OpenFileChooser.
  return OnGuiThread([&]() -> FileChooserResult {
    QStringList filters;
    std::unique_ptr<CFileBox> dialog(MakeFileBox(ParentWidget(), request, &filters));
    dialog->exec();
    return AnswerOf(*dialog, filters);
  });
}

void CQtUserInterfaceService::OpenFileChooser(HWND, const FileChooserRequest& request, FileAnswer answered,
                                              std::function<void()> gone) {
  auto filters = std::make_shared<QStringList>();
  CFileBox* dialog = MakeFileBox(ParentWidget(), request, filters.get());
  OpenWithoutWaiting(dialog, [dialog, filters, answered = std::move(answered)] {
    if (answered) answered(AnswerOf(*dialog, *filters));
  }, std::move(gone));
}

void CQtUserInterfaceService::OpenFolderChooser(HWND, const std::string& title, const std::string& initialFolder,
                                                FolderAnswer answered, std::function<void()> gone) {
  auto* dialog = new QFileDialog(ParentWidget(), QString::fromStdString(title), QString::fromStdString(initialFolder));
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  OpenWithoutWaiting(dialog, [dialog, answered = std::move(answered)] {
    std::string folder;
    if (dialog->result() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
      folder = dialog->selectedFiles().first().toStdString();
    if (answered) answered(folder);
  }, std::move(gone));
}

std::string CQtUserInterfaceService::ChooseFolder(HWND, const std::string& title, const std::string& initialFolder) {
  return OnGuiThread([&]() -> std::string {
    return QFileDialog::getExistingDirectory(ParentWidget(), QString::fromStdString(title),
                                             QString::fromStdString(initialFolder), QFileDialog::ShowDirsOnly)
        .toStdString();
  });
}
