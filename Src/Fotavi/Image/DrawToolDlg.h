// The "Draw" palette: a small modeless window beside the main window. Eight
// icon buttons choose the drawing tool or erase; below them it shows either
// the line form (line type, line width, colours) or the eraser form (three
// sizes). Every choice is kept in the palette and passed on at once to the
// main frame, whose settings the still-image views read at each stroke.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QWidget>

#include <map>

#include "Image/ImageHost.h"
#include "Platform/Types.h"

class QAbstractButton;
class QComboBox;
class CEditViewTool;

// Button and control ids of the palette and its forms.
constexpr int IDC_FREELINE = 1000;
constexpr int IDC_LINE = 1010;
constexpr int IDC_SQUARE = 1011;
constexpr int IDC_HORIZON = 1012;
constexpr int IDC_VERTICAL = 1013;
constexpr int IDC_ERASER = 1015;
constexpr int IDC_ERASEAREA = 1016;
constexpr int IDC_ERASEALL = 1017;
constexpr int IDD_ERASESIZE = 159;
constexpr int IDD_LINEKIND = 160;
constexpr int IDC_LINEKIND = 1020;
constexpr int IDC_LINETHICK = 1022;
constexpr int IDC_COLORFRAME = 1003;
constexpr int IDC_CURRENTCOLOR = 1004;
constexpr int IDC_MARK_SMALL = 1033;
constexpr int IDC_MARK_MEDIUM = 1035;
constexpr int IDC_MARK_LARGE = 1036;
constexpr int IDC_SIZE_SMALL = 1040;
constexpr int IDC_SIZE_MEDIUM = 1038;
constexpr int IDC_SIZE_LARGE = 1037;

// What the forms show: line width, line type and eraser size.
struct EDITTOOLSTATE {
  int nLineWidth = 3;
  BYTE byLineType = 0;
  int nEraserSize = 10;
};

// Base of the two forms: a hidden child of the palette.
class CEditFormDlg : public QWidget {
  Q_OBJECT
 public:
  CEditFormDlg(int dialogId, CEditViewTool* palette);
  // Makes the form's controls from the palette's state and places it hidden.
  virtual bool CreateForm() = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  CEditViewTool* m_pPalette;
};

// One of the three eraser sizes: a square with a dot of the size's look.
class CEraseChoice : public QWidget {
  Q_OBJECT
 public:
  CEraseChoice(int choiceId, int markId, int dotSize, QWidget* parent);
  int GetChoiceId() const { return m_nChoiceId; }
  int GetMarkId() const { return m_nMarkId; }
  void SetMarked(bool marked);
  bool IsMarked() const { return m_bMarked; }
 signals:
  void clicked(int choiceId);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int m_nChoiceId;
  int m_nMarkId;
  int m_nDotSize;
  bool m_bMarked = false;
};

class CSetEraseSize : public CEditFormDlg {
  Q_OBJECT
 public:
  explicit CSetEraseSize(CEditViewTool* palette);
  bool CreateForm() override;
  int GetMarked() const { return m_nMarked; }
  CEraseChoice* GetChoice(int choiceId) const;
  void OnSizeSmall();
  void OnSizeMedium();
  void OnSizeLarge();

 private:
  void Mark(int markId, int size);
  int m_nMarked = IDC_MARK_MEDIUM;
  std::map<int, CEraseChoice*> m_Choices;
};

class CSetLineKindDlg;

// A colour swatch of the line form.
class CColorLabel : public QLabel {
  Q_OBJECT
 public:
  CColorLabel(int id, COLORREF color, CSetLineKindDlg* form, QWidget* parent);
  COLORREF GetColor() const { return m_Color; }
  int GetId() const { return m_nId; }

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int m_nId;
  COLORREF m_Color;
  CSetLineKindDlg* m_pForm;
};

class CSetLineKindDlg : public CEditFormDlg {
  Q_OBJECT
 public:
  explicit CSetLineKindDlg(CEditViewTool* palette);
  bool CreateForm() override;
  QComboBox* GetLineKindBox() const { return m_pLineKind; }
  QComboBox* GetLineThickBox() const { return m_pLineThick; }
  CColorLabel* GetSwatch(int id) const;
  QLabel* GetCurrentColorField() const { return m_pCurrent; }
  COLORREF GetCurrentColor() const;
  void OnColorClicked(CColorLabel* swatch);
  void OnCbnSelchangeLineKind(int item);
  void OnCbnSelchangeLineThick(int item);

 private:
  bool CreateColorPallet();
  bool CreateLineKindBox(BYTE lineType);
  bool InitLineThickComb(int width);
  void PaintCurrentColor();

  QComboBox* m_pLineKind = nullptr;
  QComboBox* m_pLineThick = nullptr;
  QLabel* m_pFrame = nullptr;
  QLabel* m_pCurrent = nullptr;
  std::map<int, CColorLabel*> m_Swatches;
};

class CEditViewTool : public QDialog {
  Q_OBJECT
 public:
  CEditViewTool(CImageHost* host, QWidget* parent = nullptr);
  ~CEditViewTool() override;

  // Setters: written into the host's drawing settings, their one home.
  void SetColor(COLORREF color);
  void SetLineWidth(int width);
  void SetLineType(BYTE type);
  void SetEraserSize(int size);
  COLORREF GetColor() const { return Settings().penColor; }
  EDITTOOLSTATE GetState() const;

  void OnBnClickedFreeLine() { OnToolButton(IDC_FREELINE); }
  void OnBnClickedLine() { OnToolButton(IDC_LINE); }
  void OnBnClickedSquare() { OnToolButton(IDC_SQUARE); }
  void OnBnClickedHorizon() { OnToolButton(IDC_HORIZON); }
  void OnBnClickedVertical() { OnToolButton(IDC_VERTICAL); }
  void OnBnClickedEraser() { OnToolButton(IDC_ERASER); }
  void OnBnClickedEraseArea();
  void OnBnClickedEraseAll();
  // Releases all eight buttons (the tool was chosen elsewhere).
  void UncheckAll();

  QAbstractButton* GetButton(int id) const;
  CSetLineKindDlg* GetLineForm() const { return m_pLineForm; }
  CSetEraseSize* GetEraseForm() const { return m_pEraseForm; }
  CEditFormDlg* GetCurrentForm() const { return m_pCurrentForm; }
  CImageHost* GetHost() const { return m_pHost; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void OnToolButton(int id);
  void ShowForm(CEditFormDlg* form);
  void CheckOnly(int id);
  void OnClosing();
  // The host's drawing settings (settings of the palette's own without a host).
  const CDrawSettings& Settings() const { return m_pHost ? m_pHost->Settings() : m_NoHostSettings; }
  CDrawSettings& WritableSettings();

  CImageHost* m_pHost;
  CDrawSettings m_NoHostSettings;
  CSetEraseSize* m_pEraseForm = nullptr;
  CSetLineKindDlg* m_pLineForm = nullptr;
  CEditFormDlg* m_pCurrentForm = nullptr;
  std::map<int, QAbstractButton*> m_Buttons;
  bool m_bPlaced = false;
};
