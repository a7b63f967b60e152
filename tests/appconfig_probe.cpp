// Prints the backend URL as the process sees it, for tests that must watch a process stop.
// With the argument "threads", the first access happens on several threads at once.
// The second line is read after the environment changed: it must not differ.
#include "app/AppConfig.h"

#include <QCoreApplication>

#include <cstdio>
#include <thread>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QUrl first;
    if (argc > 1 && qstrcmp(argv[1], "threads") == 0) {
        std::vector<QUrl> urls(8);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < urls.size(); ++i)
            threads.emplace_back([&urls, i] { urls[i] = AppConfig::backendURL(); });
        for (std::thread &thread : threads)
            thread.join();
        for (const QUrl &url : urls) {
            if (url != urls.front())
                return 3;
        }
        first = urls.front();
    } else {
        first = AppConfig::backendURL();
    }
    qputenv(AppConfig::backendURLVariable, "http://changed.example:1");
    const QByteArray out = first.toEncoded() + '\n' + AppConfig::backendURL().toEncoded() + '\n';
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    return 0;
}
