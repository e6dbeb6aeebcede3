// The program's command line, answered before any window system is needed:
// run without a display, a wrong option must print the usage, not abort.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

namespace qd {
namespace {

TEST(CommandLine, AnsweredWithoutAWindowSystem) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    env.remove(QString::fromLatin1(name));
  const struct {
    QStringList args;
    int status;
    const char* out;  // the start of standard output
    const char* err;  // a part of standard error
  } cases[] = {
      // Usage errors in the words of quindelle-run and quindelle-sweep.
      {{QStringLiteral("--bogus")}, 2, "", "quindelle: unknown option 'bogus'\n\nusage: quindelle"},
      {{QStringLiteral("-x"), QStringLiteral("a.pln")}, 2, "", "quindelle: unknown option 'x'\n\nusage: quindelle"},
      {{QStringLiteral("--screenshot")}, 2, "", "quindelle: --screenshot needs a value\n\nusage: quindelle"},
      {{QStringLiteral("a.pln"), QStringLiteral("b.pln")},
       2,
       "",
       "only one file, please ('a.pln' and 'b.pln')"},
      {{QStringLiteral("--screenshot"), QStringLiteral("a.pln"), QStringLiteral("./a.pln")},
       2,
       "",
       "the picture would replace the configuration"},
      {{QStringLiteral("--help")}, 0, "usage: quindelle", ""},
      {{QStringLiteral("-h")}, 0, "usage: quindelle", ""},
      {{QStringLiteral("-v")}, 0, "quindelle ", ""},
      {{QStringLiteral("--version")}, 0, "quindelle ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(QUINDELLE_APP), c.args);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), c.status);
    EXPECT_TRUE(p.readAllStandardOutput().startsWith(c.out));
    EXPECT_TRUE(p.readAllStandardError().contains(c.err));
  }
}

}  // namespace
}  // namespace qd
