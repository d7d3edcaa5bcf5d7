// The reservation of a tty device for one port object: a UUCP-style (HDB)
// lock file, LCK..<device>, in the lock folder (/var/lock, or ZP3K_LOCK_DIR).
#pragma once

#include <string>

namespace imgload {

// Held from acquire() until release() or destruction, across any closings
// and reopenings of the device in between.
class PortLock {
 public:
  PortLock() = default;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
  ~PortLock() { release(); }

  // Reserves device (symbolic links resolved first). True when this object
  // holds its lock now, or when no lock can be used (no such device, no
  // usable lock folder: the exclusive open still guards). False when a live
  // process holds it (this one included, through another object): holder()
  // then names that process.
  bool acquire(const char* device);
  // Removes the lock file when it still names this process.
  void release();
  long holder() const { return holder_; }
  // The lock file this object holds; empty when none.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  long holder_ = 0;
};

// The lock file's path for device: the lock folder, "LCK..", and the
// device's name under /dev with '/' turned into '_'; empty when the device
// cannot be resolved.
std::string port_lock_path(const char* device);

}  // namespace imgload
