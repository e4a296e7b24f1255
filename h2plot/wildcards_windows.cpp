// h2plot.exe expands wildcards in its arguments (maser.csv* names the log and
// its rotated files), as a shell does for the program elsewhere: mingw-w64's
// C runtime globs the command line before main() when the program defines
// _dowildcard as nonzero. A pattern that matches nothing stays as it is, and
// the log it names is reported as one that cannot be opened.
extern "C" {
int _dowildcard = -1;
}
