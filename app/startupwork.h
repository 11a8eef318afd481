#pragma once
// Start-up work that another core does while the main thread connects to the
// display and builds the window. Each is a cost that the first paint would
// otherwise pay on the main thread.
#include <thread>

namespace tavlo {

// Fontconfig reads its configuration files and font caches on first use.
// Must be done before the first font is used, or Qt reads them a second time.
void LoadFontConfiguration();

// Loads Qt's image plug-ins: the style draws the button frame from an image,
// and the first image read loads them all. Needs the application object.
void LoadImagePlugins();

// Runs a function on a thread of its own; waits for it when destroyed.
class BackgroundJob
{
public:
    explicit BackgroundJob(void (*work)());
    ~BackgroundJob();
    BackgroundJob(const BackgroundJob &) = delete;
    BackgroundJob &operator=(const BackgroundJob &) = delete;

    void wait();

private:
    std::thread m_thread;
};

} // namespace tavlo
