// ravlen-openmemory-bench [--measure FILE]
//
// Peak memory for opening a 1 GB PDF that holds one page (its bulk an unused
// stream, written as a sparse file): ravlen's PDF layer opening the file and
// drawing its page, against `mutool draw` of that page, each in a process of
// its own. The target is under 100 MB for ravlen.
#include "Platform/PdfDocument.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long long streamBytes = 1LL << 30;

// Writes the file: four small objects, then a 1 GB stream nothing refers to,
// left as a hole in the file so that it costs no disk.
bool writeSparsePdf(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    std::string head = "%PDF-1.7\n";
    std::vector<long long> offsets;
    const std::string content = "BT /F1 36 Tf 72 700 Td (One page, one gigabyte) Tj ET";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /Font << /F1 << "
        "/Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back((long long)head.size());
        head += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    offsets.push_back((long long)head.size());
    head += "5 0 obj\n<< /Length " + std::to_string(streamBytes) + " >>\nstream\n";
    bool ok = ::write(fd, head.data(), head.size()) == ssize_t(head.size());
    const long long after = (long long)head.size() + streamBytes;
    std::string tail = "\nendstream\nendobj\n";
    const long long xref = after + (long long)tail.size();
    tail += "xref\n0 6\n0000000000 65535 f \n";
    for (long long offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010lld 00000 n \n", offset);
        tail += line;
    }
    tail += "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    ok = ok && ::pwrite(fd, tail.data(), tail.size(), after) == ssize_t(tail.size());
    return ::close(fd) == 0 && ok;
}

// Runs a command and gives its peak resident memory in MB, or -1.
double peakMegabytes(const std::vector<std::string>& command)
{
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& part : command) argv.push_back(const_cast<char*>(part.c_str()));
        argv.push_back(nullptr);
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage = {};
    if (::wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && !std::strcmp(argv[1], "--measure")) {
        // The measured child: open, count, draw page 1.
        auto doc = platform::PdfDocument::openFile(argv[2]);
        return doc->pageCount() == 1 && !doc->render(0, 1.0).isNull() ? 0 : 1;
    }
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("one-gigabyte.pdf")).toStdString();
    if (!writeSparsePdf(path)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    const double ravlen = peakMegabytes({"/proc/self/exe", "--measure", path});
    const double mutool = peakMegabytes({"mutool", "draw", "-q", "-o", "/dev/null", path, "1"});
    std::printf("opening a 1 GB one-page PDF and drawing its page: ravlen peak %.1f MB (target under 100 MB) %s\n",
                ravlen, ravlen >= 0 && ravlen < 100 ? "ok" : "OVER");
    if (mutool >= 0) std::printf("mutool draw of the same page: peak %.1f MB\n", mutool);
    else std::printf("mutool draw: not available\n");
    return ravlen >= 0 && ravlen < 100 ? 0 : 1;
}
