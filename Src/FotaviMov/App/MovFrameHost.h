// What the view and its parts ask of the main frame.
#pragma once

#include "Platform/Types.h"

class QWidget;

class IMovFrameHost {
 public:
  virtual ~IMovFrameHost() = default;
  virtual void SetFixedFrame(bool fixed) = 0;
  virtual int GetBarsHeight() const = 0;
  virtual void KeepInWorkArea() = 0;
  virtual void ResetToolButtons() = 0;
  virtual void SelectToolButton(UINT id) = 0;
  virtual UINT GetViewSizeId() const = 0;
  virtual void OnMovieStop() = 0;
  virtual QWidget* FrameWidget() = 0;
};
