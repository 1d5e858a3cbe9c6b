// The files of one frame-rate measurement. Ten seconds of recording as fast
// as frames are written come to gigabytes, split into "measurement.avi",
// "measurement001.avi", ...: they go into a folder of this measurement's own,
// made in the disk-backed large work folder (never the runtime folder, often
// a small tmpfs), and the folder goes with everything in it when the
// measurement ends, however it ends. The folder's name carries the process
// that made it; the folders of processes that were killed while they
// measured go when the next measurement is made, and at the program's start.
#pragma once

#include <string>

class CMeasurementFiles {
 public:
  CMeasurementFiles() = default;
  ~CMeasurementFiles() { Remove(); }
  CMeasurementFiles(const CMeasurementFiles&) = delete;
  CMeasurementFiles& operator=(const CMeasurementFiles&) = delete;

  // Makes the measurement's folder (a folder made before is removed first,
  // and so are those of processes that have ended).
  // The path of "measurement.avi" in it; "" when it cannot be made.
  std::string Create();
  // Removes the folder and every file in it; nothing when there is none.
  void Remove();
  bool Exists() const { return !m_strFolder.empty(); }
  // Gives the folder up (to be removed with RemoveFolder once the recording
  // writing into it has let go of it); "" when there is none.
  std::string TakeFolder();
  // Removes a folder given up, with every file in it.
  static void RemoveFolder(const std::string& folder);
  // Removes the folders of processes that have ended (killed while they
  // measured, or ended with a recording thread that never let go).
  static void RemoveEndedFolders();
  const std::string& Folder() const { return m_strFolder; }

 private:
  std::string m_strFolder;  // no trailing '/'
};
