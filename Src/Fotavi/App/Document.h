// Documents and document templates of the presentation program.
//
// A template ("Image" for still pictures, "Anime" for the live monitor)
// opens a new document: the document object (owning its CViewData), a child
// frame in the main frame's MDI area and the frame's view. Templates find
// their frame factory by name in a registry that the program's areas fill
// at start-up (RegisterProgramParts, App/ProgramParts.h), so an area plugs
// in without the main frame knowing its classes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Types.h"
#include "App/ViewData.h"

class CChildFrame;
class CDocTemplate;
class CMainFrame;

constexpr const char* DOCTEMPLATE_IMAGE = "Image";
constexpr const char* DOCTEMPLATE_ANIME = "Anime";

class CFotaviDoc {
 public:
  // `logClass` names the document class in log lines ("CImageDoc").
  CFotaviDoc(CDocTemplate* docTemplate, std::string logClass);
  virtual ~CFotaviDoc();
  CFotaviDoc(const CFotaviDoc&) = delete;
  CFotaviDoc& operator=(const CFotaviDoc&) = delete;

  // Makes the picture holder when missing. FALSE (message shown) when it
  // cannot be made.
  virtual BOOL CreateViewData();
  CViewData* GetViewData() const { return m_pViewData.get(); }

  // Forwards to the holder, with the defaults of a document without one.
  CBitmap24 GetBitmap() const;
  int GetRotate() const;
  int GetScrollPos(int bar) const;
  int GetPictureWidth() const;
  int GetPictureHeight() const;
  double GetZoom() const;
  int GetSaveKind() const;
  std::string GetName() const;
  std::string GetPath() const;
  void SetZoom(double zoom);
  void SetScrollPos(int bar, int pos);
  void SetRotate(int commandId);
  void SetSaveKind(int kind);
  void SetName(const std::string& name);
  void SetPath(const std::string& path);
  BOOL LoadPicture(const BYTE* data, DWORD size, int scale);
  BOOL LoadPicture(const std::string& path, BOOL bmp);

  const std::string& GetTitle() const { return m_strTitle; }
  void SetTitle(const std::string& title) { m_strTitle = title; }
  bool IsModified() const { return m_bModified; }
  void SetModifiedFlag(bool modified = true) { m_bModified = modified; }
  CDocTemplate* GetDocTemplate() const { return m_pTemplate; }
  CChildFrame* GetFrame() const { return m_pFrame; }
  void SetFrame(CChildFrame* frame) { m_pFrame = frame; }

 protected:
  std::unique_ptr<CViewData> m_pViewData;
  std::string m_strLogClass;

 private:
  CDocTemplate* m_pTemplate;
  CChildFrame* m_pFrame = nullptr;
  std::string m_strTitle;
  bool m_bModified = false;
};

class CDocTemplate {
 public:
  // Makes the document, its frame (owning the document) and its view; the
  // frame is added to the main frame's MDI area but not shown. NULL on failure.
  using Factory = std::function<CChildFrame*(CMainFrame* mainFrame, CDocTemplate* docTemplate)>;

  CDocTemplate(int resourceId, std::string docStrings);
  // Field `index` of the "\n"-separated document strings (2: the type name).
  std::string GetDocString(int index) const;
  // A new document through the factory registered for this template's type
  // name; NULL when none is registered or it fails.
  CChildFrame* OpenDocument(CMainFrame* mainFrame);

 private:
  std::string m_strDocStrings;
};

// Registry of frame factories by template name, filled at start-up.
void RegisterDocTemplateFactory(const std::string& name, CDocTemplate::Factory factory);
CDocTemplate::Factory FindDocTemplateFactory(const std::string& name);

// Document strings of the two templates.
constexpr const char* DOCSTRINGS_IMAGE = "\n\nImage\n\n\nFotavi.Document\nFotavi.Document";
constexpr const char* DOCSTRINGS_ANIME = "\nLive Monitor\nAnime\n\n\nFotavi.Document\nFotavi.Document";
