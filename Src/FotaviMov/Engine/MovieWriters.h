// What the recording thread asks of its two writers. The AVI and WMV writers
// implement these; tests give the thread writers of their own.
#pragma once

#include <cstdint>
#include <string>

#include "MovieDefs.h"

// AddFrame results of the AVI writer.
constexpr int AVI_ADD_WRITTEN = 0;
constexpr int AVI_ADD_LIMIT = 1;
constexpr int AVI_ADD_ERROR = 2;

class IAviWriter {
 public:
  virtual ~IAviWriter() = default;
  virtual void SetMaxFileSize(uint64_t bytes) = 0;
  virtual void SetRecCondition(int mode, uint64_t limit) = 0;
  // 0 when the file is open, a negative error code otherwise (error text set).
  virtual long Initialize(const std::string& path, DWORD frameRate) = 0;
  // AVI_ADD_WRITTEN, AVI_ADD_LIMIT (file closed) or AVI_ADD_ERROR (error text set).
  virtual int AddFrame(const CBitmap24& bitmap) = 0;
  // Completes the open file. FALSE when it could not be completed (error text set).
  virtual BOOL Close() = 0;
  virtual std::string GetErrorMessage() const = 0;
};

class IWmvWriter {
 public:
  virtual ~IWmvWriter() = default;
  // 1 ready, 0 failed (error text set).
  virtual int Initialize(DWORD frameRate, DWORD quality, const std::string& path, const std::string& profile) = 0;
  // 1 written, 0 failed (error text set).
  virtual int AddFrame(const CBitmap24& bitmap) = 0;
  // Ends writing and completes the file. FALSE when that failed (error text set).
  virtual BOOL EndWriting() = 0;
  virtual std::string GetErrorMessage() const = 0;
};
