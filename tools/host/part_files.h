// Where restored data goes until it is complete: one hidden file per session
// beside the output. Only a complete restore becomes the output file; a
// failed one leaves nothing that looks like it.
#pragma once

#include <string>
#include <vector>

namespace kelmar::host {

class PartFiles {
 public:
  PartFiles() = default;
  PartFiles(const PartFiles&) = delete;
  PartFiles& operator=(const PartFiles&) = delete;
  // Removes the parts that were not published.
  ~PartFiles();

  // Creates `count` empty parts in the directory of `output`.
  bool Create(const std::string& output, unsigned count, std::string& error);
  int fd(unsigned index) const { return parts_[index].fd; }

  // Joins the parts in order and puts the result in place of `output`.
  bool Publish(std::string& error);

 private:
  struct Part {
    std::string path;
    int fd = -1;
  };
  std::string output_;
  std::vector<Part> parts_;
};

}  // namespace kelmar::host
