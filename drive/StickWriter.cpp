#include "StickWriter.h"

namespace StickWriter {

std::optional<Error> write(const QString &image, int drive, const Progress &progress,
                           bool *touched)
{
    if (touched)
        *touched = false;
    auto opened = StickStream::open(image, drive);
    if (Error *refused = std::get_if<Error>(&opened))
        return *refused;
    StickStream &stream = *std::get<std::unique_ptr<StickStream>>(opened);
    if (touched)
        *touched = true;
    return stream.finish(progress);
}

} // namespace StickWriter
