// Asks KIO's PreviewJob, the job Dolphin uses, for the previews of world files,
// and checks each against the image wldmap --thumbnail wrote for it, pixel for
// pixel, as Qt decodes both.
//   preview_job_client SIZE WORLD=REFERENCE.png ... WORLD= ...
// A world with a reference must get exactly that image, one without it no
// preview at all. Prints a line a world; exits 0 when every one is as it must.
#include <KIO/PreviewJob>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SIZE WORLD=[REFERENCE.png] ...\n", argv[0]);
    return 2;
  }
  const int size = std::atoi(argv[1]);
  QMap<QUrl, QString> references;  // the world, and its reference or nothing
  KFileItemList items;
  for (int i = 2; i < argc; ++i) {
    const QString arg = QString::fromLocal8Bit(argv[i]);
    const int equals = arg.lastIndexOf(QLatin1Char('='));
    const QUrl world = QUrl::fromLocalFile(arg.left(equals));
    references[world] = arg.mid(equals + 1);
    items.append(KFileItem(world));
  }
  // Only this plugin: the job finds it as Dolphin does, among those installed.
  const QStringList plugins{QStringLiteral("wldmap-thumbnail")};
  if (!KIO::PreviewJob::availablePlugins().contains(plugins[0])) {
    std::fprintf(stderr, "FAIL: the plugin is not among %s\n",
                 qPrintable(KIO::PreviewJob::availablePlugins().join(QLatin1Char(' '))));
    return 1;
  }
  KIO::PreviewJob* job = KIO::filePreview(items, QSize(size, size), &plugins);
  int wrong = 0, answered = 0;
  QElapsedTimer clock;
  clock.start();
  QObject::connect(job, &KIO::PreviewJob::gotPreview, [&](const KFileItem& item,
                                                         const QPixmap& preview) {
    ++answered;
    const QString reference = references.value(item.url());
    const QImage got = preview.toImage().convertToFormat(QImage::Format_RGBA8888);
    const QImage want = QImage(reference).convertToFormat(QImage::Format_RGBA8888);
    const bool same = !reference.isEmpty() && got == want;
    wrong += !same;
    std::printf("%s: %s: %d x %d after %lld ms\n", same ? "ok" : "FAIL",
                qPrintable(item.url().toLocalFile()), got.width(), got.height(),
                static_cast<long long>(clock.elapsed()));
  });
  QObject::connect(job, &KIO::PreviewJob::failed, [&](const KFileItem& item) {
    ++answered;
    const bool expected = references.value(item.url()).isEmpty();
    wrong += !expected;
    std::printf("%s: %s: no preview after %lld ms\n", expected ? "ok" : "FAIL",
                qPrintable(item.url().toLocalFile()), static_cast<long long>(clock.elapsed()));
  });
  QObject::connect(job, &KJob::result, &app, &QCoreApplication::quit);
  QTimer::singleShot(120000, &app, [&app] {
    std::fprintf(stderr, "FAIL: no result within two minutes\n");
    app.exit(1);
  });
  if (app.exec() != 0) return 1;
  if (answered != items.size()) {
    std::fprintf(stderr, "FAIL: %d of %lld worlds answered\n", answered,
                 static_cast<long long>(items.size()));
    return 1;
  }
  return wrong == 0 ? 0 : 1;
}
