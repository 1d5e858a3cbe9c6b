// A pop-up over the whole screen that shows its owner's picture scaled to
// fit, aspect kept, with black borders. Enter, Esc or a left click post
// WM_FULLSCREEN_END to the owner's message target; the system cannot close
// it (Alt+F4 is ignored). The owner clears Active, then destroys it with
// Destroy(). Used by the live view and the still-image view.
#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>

#include "Platform/Types.h"

class CFullScreenWnd : public QWidget {
  Q_OBJECT
 public:
  // Creates and shows the window on the screen of `screenOf` (the primary
  // screen when NULL). `owner` receives WM_FULLSCREEN_END; `source` is the
  // owner's picture at 1:1, read at each DrawPicture().
  CFullScreenWnd(HWND owner, const QImage* source, QWidget* screenOf = nullptr);
  ~CFullScreenWnd() override;

  bool IsCreated() const { return m_bCreated; }
  // Makes the screen-sized memory picture. FALSE (message shown) on failure.
  BOOL Initialize();
  // Draws the source picture; TRUE when drawn or inactive.
  BOOL DrawPicture();
  BOOL DrawPicture(const QImage& source);
  void SetSource(const QImage* source) { m_pSource = source; }
  void SetActive(bool active) { m_bActive = active; }
  bool IsActive() const { return m_bActive; }
  // Closes and deletes the window (the owner's way to end it).
  void Destroy();

  // Where a w x h picture goes in a W x H client area.
  static QRect FitRect(int w, int h, int W, int H);
  // The full-screen window that exists now, if any.
  static CFullScreenWnd* FindFullScreenWnd();
  // The memory picture as last drawn (tests).
  const QImage& GetMemoryImage() const { return m_Memory; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  HWND m_hOwner;
  const QImage* m_pSource;
  QImage m_Memory;
  bool m_bMemoryReady = false;
  bool m_bCreated = false;
  bool m_bActive = false;
  bool m_bDestroying = false;
};
