// The main frame's menus, toolbar and their actions.
#include "App/MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <mutex>
#include <new>

#include "App/FotaviApp.h"
#include "App/Icons.h"
#include "App/Resource.h"
#include "Common/CommonFunc.h"
#include "Common/FilePath.h"
#include "Common/FileSelDlg.h"
#include "Common/StringTable.h"
#include "Common/TiryxDialog.h"
#include "Common/TraceLog.h"
#include "Image/ImageHost.h"
#include "Live/AnimeFrame.h"
#include "Live/FullScreenWnd.h"
#include "Platform/GlobalMemory.h"
#include "Platform/Paths.h"
#include "Platform/Time.h"

QAction* CMainFrame::AddAction(int id, const QString& text, const QString& tip) {
  auto* action = new QAction(text, this);
  action->setData(id);
  if (!tip.isEmpty()) {
    action->setToolTip(tip);
    action->setStatusTip(tip);
  }
  connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
  m_Actions[id] = action;
  return action;
}

void CMainFrame::CreateActions() {
  AddAction(ID_FILE_OPENFILE, tr("&Open...\tCtrl+O"), tr("Open"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  AddAction(ID_FILE_CLOSE, tr("&Close"));
  AddAction(ID_FILE_ALLCLOSE, tr("A&ll Close"));
  AddAction(ID_FILE_SAVEFILE, tr("&Save\tCtrl+S"), tr("Save"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  AddAction(ID_FILE_SAVEAS, tr("S&ave AS..."));
  AddAction(ID_APP_EXIT, tr("E&xit"));
  AddAction(ID_ROTATE_180, QString::fromUtf8("&180°"));
  AddAction(ID_ROTATE_90CW, QString::fromUtf8("&90°CW"), QString::fromUtf8("90°CW"));
  AddAction(ID_ROTATE_90CCW, QString::fromUtf8("9&0°CCW"), QString::fromUtf8("90°CCW"));
  AddAction(ID_VIEW_FULLSCREEN, tr("&Full Screen"), tr("Full Screen"));
  AddAction(ID_VIEW_ZOOMIN, tr("Zoom &In"), tr("Zoom In"));
  AddAction(ID_VIEW_ZOOMOUT, tr("Zoom &Out"), tr("Zoom Out"));
  AddAction(ID_VIEW_BESTFIT, tr("&Best Fit"));
  AddAction(ID_VIEW_ACTUALSIZE, tr("&Actual Size"));
  AddAction(ID_VIEW_ZOOMSELECT, tr("Zoom To Selected A&rea"));
  auto* sizes = new QActionGroup(this);
  for (auto [id, text] : {std::pair{ID_LIVE_SIZE25, "&1 25%"}, std::pair{ID_LIVE_SIZE50, "&2 50%"},
                          std::pair{ID_LIVE_SIZE100, "&3 100%"}}) {
    QAction* a = AddAction(id, tr(text));
    a->setCheckable(true);
    sizes->addAction(a);
  }
  AddAction(ID_TOOL_STILLCAPTURE, tr("Still Ca&pture"), tr("Still Capture"));
  AddAction(ID_TOOL_CONVERT, tr("&File Conversion"));
  AddAction(ID_TOOL_TRANSFER, tr("File &Transfer To SD"));
  AddAction(ID_TOOL_VIEWER, tr("SD &Viewer"));
  AddAction(ID_TOOL_DRAW, tr("&Draw"), tr("Draw"))->setCheckable(true);
  AddAction(ID_TOOL_REMOTECTRL, tr("Re&mote Control"), tr("Remote Control"))->setCheckable(true);
  m_pSlideShowAction = AddAction(ID_TOOL_SLIDESHOW, tr("&Slide Show Setting"));
  AddAction(ID_WINDOW_CASCADE, tr("&Cascade"));
  AddAction(ID_WINDOW_TILE_HORZ, tr("&Tile"));
  AddAction(ID_HELP_FINDER, tr("&Help"));
  AddAction(ID_APP_ABOUT, tr("&About"));
  AddAction(ID_LIVE_STOP, tr("Stop"), tr("Stop"));
  AddAction(ID_LIVE_START, tr("Start"), tr("Start"));
  AddAction(ID_TOOL_HAND, tr("Hand Tool"), tr("Hand Tool"))->setCheckable(true);
  AddAction(ID_TOOL_SELECT, tr("Rectangle selection"), tr("Rectangle selection"))->setCheckable(true);
}

void CMainFrame::CreateMenus() {
  auto hook = [this](QMenu* menu) { connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI); };
  QMenu* file = menuBar()->addMenu(tr("&File"));
  hook(file);
  file->addAction(m_Actions[ID_FILE_OPENFILE]);
  file->addAction(m_Actions[ID_FILE_CLOSE]);
  file->addAction(m_Actions[ID_FILE_ALLCLOSE]);
  file->addSeparator();
  file->addAction(m_Actions[ID_FILE_SAVEFILE]);
  file->addAction(m_Actions[ID_FILE_SAVEAS]);
  file->addSeparator();
  file->addAction(m_Actions[ID_APP_EXIT]);
  QMenu* rotation = menuBar()->addMenu(tr("Rotat&ion"));
  hook(rotation);
  rotation->addAction(m_Actions[ID_ROTATE_180]);
  rotation->addAction(m_Actions[ID_ROTATE_90CW]);
  rotation->addAction(m_Actions[ID_ROTATE_90CCW]);
  QMenu* view = menuBar()->addMenu(tr("&View"));
  hook(view);
  view->addAction(m_Actions[ID_VIEW_FULLSCREEN]);
  view->addSeparator();
  for (int id : {ID_VIEW_ZOOMIN, ID_VIEW_ZOOMOUT, ID_VIEW_BESTFIT, ID_VIEW_ACTUALSIZE, ID_VIEW_ZOOMSELECT})
    view->addAction(m_Actions[id]);
  QMenu* tools = menuBar()->addMenu(tr("&Tools"));
  hook(tools);
  QMenu* live = tools->addMenu(tr("&Live Monitor"));
  hook(live);
  for (int id : {ID_LIVE_SIZE25, ID_LIVE_SIZE50, ID_LIVE_SIZE100}) live->addAction(m_Actions[id]);
  tools->addAction(m_Actions[ID_TOOL_STILLCAPTURE]);
  tools->addSeparator();
  for (int id : {ID_TOOL_CONVERT, ID_TOOL_TRANSFER, ID_TOOL_VIEWER}) tools->addAction(m_Actions[id]);
  tools->addSeparator();
  tools->addAction(m_Actions[ID_TOOL_DRAW]);
  tools->addSeparator();
  tools->addAction(m_Actions[ID_TOOL_REMOTECTRL]);
  tools->addSeparator();
  tools->addAction(m_Actions[ID_TOOL_SLIDESHOW]);
  m_pWindowMenu = menuBar()->addMenu(tr("&Window"));
  connect(m_pWindowMenu, &QMenu::aboutToShow, this, [this] {
    // Cascade, Tile, then one item per document window.
    m_pWindowMenu->clear();
    m_pWindowMenu->addAction(m_Actions[ID_WINDOW_CASCADE]);
    m_pWindowMenu->addAction(m_Actions[ID_WINDOW_TILE_HORZ]);
    const auto windows = m_pMdiArea->subWindowList();
    if (!windows.isEmpty()) m_pWindowMenu->addSeparator();
    int n = 1;
    for (QMdiSubWindow* w : windows) {
      QAction* a = m_pWindowMenu->addAction(QStringLiteral("&%1 %2").arg(n++).arg(w->windowTitle()));
      a->setCheckable(true);
      a->setChecked(w == m_pMdiArea->currentSubWindow());
      connect(a, &QAction::triggered, this, [this, w] { m_pMdiArea->setActiveSubWindow(w); });
    }
    UpdateCommandUI();
  });
  m_pWindowMenu->addAction(m_Actions[ID_WINDOW_CASCADE]);
  m_pWindowMenu->addAction(m_Actions[ID_WINDOW_TILE_HORZ]);
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  hook(help);
  help->addAction(m_Actions[ID_HELP_FINDER]);
  help->addAction(m_Actions[ID_APP_ABOUT]);
}

void CMainFrame::CreateToolBar() {
  m_pToolBar = new QToolBar(tr("Standard"), this);
  m_pToolBar->setObjectName(QStringLiteral("toolbar128"));
  addToolBar(Qt::TopToolBarArea, m_pToolBar);
  const int layout[] = {ID_FILE_OPENFILE, ID_FILE_SAVEFILE, 0, ID_VIEW_FULLSCREEN, 0, ID_TOOL_HAND,
                        ID_TOOL_SELECT, 0, ID_ROTATE_90CCW, ID_ROTATE_90CW, 0, ID_VIEW_ZOOMIN,
                        ID_VIEW_ZOOMOUT, 0, ID_LIVE_STOP, ID_LIVE_START, 0, ID_TOOL_STILLCAPTURE,
                        ID_TOOL_DRAW, ID_TOOL_REMOTECTRL};
  for (int id : layout) {
    if (id == 0) {
      m_pToolBar->addSeparator();
    } else {
      m_Actions[id]->setIcon(CommandIcon(id));
      m_pToolBar->addAction(m_Actions[id]);
    }
  }
}

QAction* CMainFrame::GetAction(int id) const {
  const auto it = m_Actions.find(id);
  return it == m_Actions.end() ? nullptr : it->second;
}
