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
  QMap<QUrl, QString> references;  // the world, and its reference or nothing
  KFileItemList items;
  for (int i = 2; i < argc; ++i) {
    const QStringList world = QString::fromLocal8Bit(argv[i]).split(QLatin1Char('='));
    references[QUrl::fromLocalFile(world[0])] = world.value(1);
    items.append(KFileItem(QUrl::fromLocalFile(world[0])));
  }
  // Only this plugin, found as Dolphin finds it among those installed.
  const QStringList plugins{QStringLiteral("wldmap-thumbnail")};
  if (argc < 3 || !KIO::PreviewJob::availablePlugins().contains(plugins[0])) {
    std::fprintf(stderr, "FAIL: no worlds, or no plugin among %s\n",
                 qPrintable(KIO::PreviewJob::availablePlugins().join(QLatin1Char(' '))));
    return 2;
  }
  // SIZE, or WIDTHxHEIGHT for a request that is not square.
  int width = 0, height = 0;
  if (std::sscanf(argv[1], "%dx%d", &width, &height) < 2) height = width;
  KIO::PreviewJob* job = KIO::filePreview(items, QSize(width, height), &plugins);
  // Not square: uncached, so that the plugin is asked for that very size (a
  // cached preview is asked for at the square size of its cache).
  if (width != height) job->setScaleType(KIO::PreviewJob::Scaled);
  int wrong = 0, answered = 0;
  QElapsedTimer clock;
  clock.start();
  auto answer = [&](const KFileItem& item, const QImage& preview) {
    const QString reference = references.value(item.url());
    const bool right = reference.isEmpty()
                           ? preview.isNull()
                           : preview.convertToFormat(QImage::Format_RGBA8888) ==
                                 QImage(reference).convertToFormat(QImage::Format_RGBA8888);
    wrong += !right;
    ++answered;
    std::printf("%s: %s: %d x %d after %lld ms\n", right ? "ok" : "FAIL",
                qPrintable(item.url().toLocalFile()), preview.width(), preview.height(),
                static_cast<long long>(clock.elapsed()));
  };
  QObject::connect(job, &KIO::PreviewJob::gotPreview,
                   [&](const KFileItem& item, const QPixmap& preview) {
                     answer(item, preview.toImage());
                   });
  QObject::connect(job, &KIO::PreviewJob::failed,
                   [&](const KFileItem& item) { answer(item, QImage()); });
  QObject::connect(job, &KJob::result, &app, &QCoreApplication::quit);
  QTimer::singleShot(120000, &app, [&app] { app.exit(1); });
  const bool finished = app.exec() == 0 && answered == items.size();
  if (!finished) std::fprintf(stderr, "FAIL: %d of %d worlds answered\n", answered, argc - 2);
  return finished && wrong == 0 ? 0 : 1;
}
