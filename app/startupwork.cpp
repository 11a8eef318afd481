#include "app/startupwork.h"

#include <QImageReader>

#include <fontconfig/fontconfig.h>

namespace tavlo {

void LoadFontConfiguration()
{
    FcInit();
}

void LoadImagePlugins()
{
    // Asking what can be read loads every image plug-in to ask it.
    QImageReader::supportedImageFormats();
}

BackgroundJob::BackgroundJob(void (*work)()) : m_thread(work) {}

BackgroundJob::~BackgroundJob()
{
    wait();
}

void BackgroundJob::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace tavlo
