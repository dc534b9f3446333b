// Writing pictures: a PNG written whole to a temporary file beside its
// target and renamed into place, over nothing but a regular file.
#include "image_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <png.h>

#include "tool_error.hpp"

namespace qtool {
namespace {

// A file created beside its target and renamed onto it by commit(); removed
// by the destructor otherwise.
class TempFile {
public:
    explicit TempFile(const std::string& target) : target_(target)
    {
        checkOutputPath(target);
        const std::filesystem::path p(target);
        const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
        temp_ = (dir / ("." + p.filename().string() + ".XXXXXX")).string();
        const int fd = mkstemp(temp_.data());
        if (fd < 0) throw ToolError(target + ": cannot create: " + std::strerror(errno));
        // mkstemp creates the file private; an image is as readable as any file.
        (void)fchmod(fd, 0644);
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) {
            ::close(fd);
            std::remove(temp_.c_str());
            throw ToolError(target + ": cannot write: " + std::strerror(errno));
        }
    }
    ~TempFile()
    {
        if (file_ != nullptr) std::fclose(file_);
        if (!committed_) std::remove(temp_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    FILE* file() const { return file_; }
    void commit()
    {
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) throw ToolError(target_ + ": cannot write: " + std::strerror(errno));
        checkOutputPath(target_);  // again: the target may have appeared meanwhile
        if (std::rename(temp_.c_str(), target_.c_str()) != 0)
            throw ToolError(target_ + ": cannot write: " + std::strerror(errno));
        committed_ = true;
    }

private:
    std::string target_, temp_;
    FILE* file_ = nullptr;
    bool committed_ = false;
};

}  // namespace

// rename() replaces whatever the name holds; a picture must not take the
// place of a device, a folder's entry, a link's target or a pipe.
void checkOutputPath(const std::string& path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
    const char* what = S_ISLNK(info.st_mode)                             ? "a symbolic link"
                       : S_ISDIR(info.st_mode)                           ? "a folder"
                       : S_ISFIFO(info.st_mode)                          ? "a pipe"
                       : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                                                                         : "not a regular file";
    throw ToolError(path + ": is " + what + "; only a regular file is replaced by a picture");
}

void writePng(const std::string& path, const Image& image)
{
    TempFile temp(path);
    png_image info;
    std::memset(&info, 0, sizeof info);
    info.version = PNG_IMAGE_VERSION;
    info.width = static_cast<png_uint_32>(image.width);
    info.height = static_cast<png_uint_32>(image.height);
    info.format = image.channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const int written = png_image_write_to_stdio(&info, temp.file(), 0, image.pixels.data(),
                                                 image.width * image.channels, nullptr);
    const std::string message = info.message;
    png_image_free(&info);
    if (written == 0) throw ToolError(path + ": cannot write PNG: " + message);
    temp.commit();
}

}  // namespace qtool
