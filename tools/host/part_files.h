// Where restored data goes until it is complete. The first part is written
// into a hidden file beside the output, which becomes the output once the
// image is whole, or straight into an output that is a device or a pipe; the
// other parts wait in files that have no name, so nothing of them outlives
// the process. A failed restore leaves nothing that looks like its output.
#pragma once

#include <string>
#include <vector>

namespace kelmar::host {

class PartFiles {
 public:
  PartFiles() = default;
  PartFiles(const PartFiles&) = delete;
  PartFiles& operator=(const PartFiles&) = delete;
  // Removes the hidden file unless it was published.
  ~PartFiles();

  // Opens `count` parts for `output`, an absolute path. An output that is a
  // symbolic link stands for the file it points to; one that is a character
  // device or a pipe is written into; any other that is not a regular file is
  // refused.
  bool Create(const std::string& output, unsigned count, std::string& error);
  int fd(unsigned index) const { return fds_[index]; }

  // Joins the parts in order into the first and puts it in place of the output.
  bool Publish(std::string& error);

 private:
  bool OpenFirst(const std::string& directory, std::string& error);
  std::string output_;
  bool written_into_ = false;  // a device or a pipe
  std::string hidden_path_;    // the first part until it is published
  std::vector<int> fds_;
};

}  // namespace kelmar::host
