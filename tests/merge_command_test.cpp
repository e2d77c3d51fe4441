#include "merge/merge_command.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <thread>

#include <filesystem>
#include <string>
#include <vector>

#include "ghostscript/ghostscript.h"
#include "ghostscript/sheet_commands.h"
#include "handlers/sheet_preview.h"
#include "input/drop_zones.h"
#include "input/path_helpers.h"
#include "platform/print_spooler.h"
#include "platform/text_files.h"
#include "support/fake_form.h"
#include "support/ps_samples.h"
#include "support/temp_folder.h"

namespace a5merge {
namespace {

using testing::AcceptedInput;
using testing::kInsertedLines;
using testing::ProgramEnded;
using testing::ReadBytes;
using testing::TempFolder;

class MergeCommandTest : public ::testing::Test, protected testing::FakeForm {
protected:
    // Accepts `top` and `bottom` through the drop zones.
    void Accept(const std::string& top, const std::string& bottom) {
        DropOnZone(Zone::Top, {top}, form);
        DropOnZone(Zone::Bottom, {bottom}, form);
        ASSERT_EQ(state.topOK + state.bottomOK, 2);
        ASSERT_TRUE(desktop.boxes.empty());
        captions.changes.clear();
    }

    using Texts = std::vector<std::string>;

    TempFolder dir;
};

TEST_F(MergeCommandTest, RefusesUntilBothZonesAccepted) {
    cmdMerge_Click(form);
    EXPECT_EQ(desktop.Texts(), Texts{"Sorry input *.PS files not correct"});
    EXPECT_EQ(desktop.boxes[0].style, 4096);
    EXPECT_FALSE(desktop.boxes[0].title.has_value());

    DropOnZone(Zone::Top, {dir.Write("left.ps", AcceptedInput())}, form);
    cmdMerge_Click(form);
    EXPECT_EQ(desktop.Texts(), (Texts{kInputsNotCorrect, kInputsNotCorrect}));
    EXPECT_TRUE(desktop.dialogs.empty());
    EXPECT_EQ(state.workDir, "");
    EXPECT_EQ(state.defaultName, "");
}

TEST_F(MergeCommandTest, ProposesTheCombiNameNextToTop) {
    TempFolder other;
    Accept(dir.Write("left.ps", AcceptedInput()), other.Write("right.ps", AcceptedInput()));
    cmdMerge_Click(form);  // the dialog is cancelled
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    const SaveDialog& dialog = desktop.dialogs[0];
    EXPECT_EQ(dialog.title, "Korvalith PS file");
    EXPECT_EQ(dialog.filter, "Postscript (*.PS)|*.PS");
    EXPECT_EQ(dialog.defaultExt, "PS");
    EXPECT_EQ(dialog.initDir, dir.Path("").substr(0, dir.Path("").size() - 1));
    EXPECT_EQ(dialog.fileName, dir.Path("left_Combi.PS"));
    EXPECT_EQ(dialog.flags, 2);
    EXPECT_EQ(state.workDir, dialog.initDir);
    EXPECT_EQ(state.defaultName, dialog.fileName);
}

TEST_F(MergeCommandTest, ProposalForNamesWithDotsAndForTheRootFolder) {
    const struct {
        const char* top;
        const char* workDir;
        const char* proposed;
    } cases[] = {
#ifdef _WIN32
        // The Parts' own examples: a drive root's folder is the drive alone.
        {"C:\\jobs\\left.ps", "C:\\jobs", "C:\\jobs\\left_Combi.PS"},
        {"C:\\longname.ps", "C:", "C:\\longname_Combi.PS"},
        {"C:\\jobs\\a.b.PS", "C:\\jobs", "C:\\jobs\\a.b_Combi.PS"},
        {"\\\\server\\share\\x.ps", "\\\\server\\share", "\\\\server\\share\\x_Combi.PS"},
        {"C:\\jobs\\README", "C:\\jobs", "C:\\jobs\\README_Combi.PS"},
        {"C:\\\xc3\xa9t\xc3\xa9\\\xe5\x9b\xb3.ps", "C:\\\xc3\xa9t\xc3\xa9",
         "C:\\\xc3\xa9t\xc3\xa9\\\xe5\x9b\xb3_Combi.PS"},
#else
        {"/jobs/a.b.PS", "/jobs", "/jobs/a.b_Combi.PS"},
        {"/longname.ps", "", "/longname_Combi.PS"},
        {"/jobs/README", "/jobs", "/jobs/README_Combi.PS"},
#endif
    };
    for (const auto& c : cases) {
        state.topFile = c.top;
        EXPECT_EQ(ProposedName(c.top, form), c.proposed) << c.top;
        EXPECT_EQ(state.workDir, c.workDir) << c.top;
    }
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(MergeCommandTest, CancelChangesNothing) {
    Accept(dir.Write("left.ps", AcceptedInput()), dir.Write("right.ps", AcceptedInput()));
    state.outFile = "/earlier/out.PS";
    cmdMerge_Click(form);
    EXPECT_EQ(desktop.dialogs.size(), 1u);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(state.outFile, "/earlier/out.PS");
    EXPECT_TRUE(captions.changes.empty());
    EXPECT_EQ(dir.Entries(), (Texts{"left.ps", "right.ps"}));
}

TEST_F(MergeCommandTest, WritesConfirmsAndShowsTheZonesEmptyAgain) {
    const std::string top = dir.Write("left.ps", AcceptedInput("(B) show\r\n"));
    const std::string bottom = dir.Write("right.ps", AcceptedInput("(A) show\r\nshowpage\r\n"));
    Accept(top, bottom);
    desktop.saveAnswers = {dir.Path("left_Combi.PS"), dir.Path("again.PS")};
    cmdMerge_Click(form);

    const std::string expected =
        "%!PS-Adobe-3.0\r\n%%Creator: Quobl ZQ9XKV\r\n%%TEXT723DUMMY\r\n(A) show\r\n" +
        kInsertedLines + AcceptedInput("(B) show\r\n");
    EXPECT_EQ(ReadBytes(dir.Path("left_Combi.PS")), expected);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "All looks OK!  ");
    EXPECT_EQ(desktop.boxes[0].style, 4096);
    EXPECT_EQ(desktop.boxes[0].title, "OK!");
    using Change = std::pair<Label, std::string>;
    EXPECT_EQ(captions.changes,
              (std::vector<Change>{{Label::lblBottom, "BOTTOM"}, {Label::lblTop, "TOP"}}));
    EXPECT_EQ(state.outFile, dir.Path("left_Combi.PS"));

    // The files stay accepted: a second merge proposes the same and writes again.
    EXPECT_EQ(state.topOK + state.bottomOK, 2);
    cmdMerge_Click(form);
    ASSERT_EQ(desktop.dialogs.size(), 2u);
    EXPECT_EQ(desktop.dialogs[1].fileName, dir.Path("left_Combi.PS"));
    EXPECT_EQ(ReadBytes(dir.Path("again.PS")), expected);
}

TEST_F(MergeCommandTest, FailedWriteIsReportedAndTheTargetKept) {
    const std::string top = dir.Write("left.ps", AcceptedInput());
    const std::string bottom = dir.Write("right.ps", AcceptedInput());
    Accept(top, bottom);
    const std::string target = dir.Write("left_Combi.PS", "precious");
    std::remove(bottom.c_str());  // deleted since it was dropped
    desktop.saveAnswers = {target};
    cmdMerge_Click(form);
    EXPECT_EQ(desktop.Texts(),
              Texts{"Could not save " + target + "\r\n" + bottom + ": " + testing::NotFoundReason()});
    EXPECT_EQ(desktop.boxes[0].style, 4096);
    EXPECT_EQ(ReadBytes(target), "precious");
    EXPECT_TRUE(captions.changes.empty());
    EXPECT_EQ(dir.Entries(), (Texts{"left.ps", "left_Combi.PS"}));
}

TEST_F(MergeCommandTest, FailedWriteIntoAMissingFolderNamesTheOutput) {
    Accept(dir.Write("left.ps", AcceptedInput()), dir.Write("right.ps", AcceptedInput()));
    const std::string target = dir.Path("gone/out.PS");
    desktop.saveAnswers = {target};
    cmdMerge_Click(form);
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text.rfind("Could not save " + target + "\r\n", 0), 0u)
        << desktop.boxes[0].text;
    EXPECT_TRUE(captions.changes.empty());
}

TEST_F(MergeCommandTest, ANameTheDialogMayHaveChangedIsNotWritten) {
    Accept(dir.Write("left.ps", AcceptedInput()), dir.Write("right.ps", AcceptedInput()));
    // What the dialog hands back for a name with a byte that is not UTF-8.
    const std::string decoded = dir.Write("victim\xef\xbf\xbd.PS", "precious");
    desktop.saveAnswers = {decoded};
    cmdMerge_Click(form);
    EXPECT_EQ(desktop.Texts(), Texts{"Could not save " + decoded + "\r\n" + kNameNotCarried});
    EXPECT_EQ(ReadBytes(decoded), "precious");
    EXPECT_TRUE(captions.changes.empty());
}

TEST_F(MergeCommandTest, AnInputChosenAsTheOutputIsMergedWhole) {
    const std::string top = dir.Write("left.ps", AcceptedInput("(B) show\r\n"));
    const std::string bottom = dir.Write("right.ps", AcceptedInput("(A) show\r\n"));
    Accept(top, bottom);
    desktop.saveAnswers = {top};
    cmdMerge_Click(form);
    EXPECT_EQ(ReadBytes(top),
              AcceptedInput("(A) show\r\n") + kInsertedLines + AcceptedInput("(B) show\r\n"));
    EXPECT_EQ(desktop.Texts(), Texts{"All looks OK!  "});
}

TEST_F(MergeCommandTest, ShortTopPathEndsTheProgramBeforeTheDialog) {
    state.topOK = state.bottomOK = 1;
    state.topFile = "/tmp/a.ps";
    EXPECT_THROW(cmdMerge_Click(form), ProgramEnded);
    EXPECT_EQ(desktop.Texts(), Texts{"Invalid file processing detected\r\nProgram will close"});
    EXPECT_TRUE(desktop.dialogs.empty());
}

#ifndef _WIN32
// A FIFO or a device chosen in the save dialog is refused with a message:
// the window never waits for a program to read what it writes.
TEST_F(MergeCommandTest, TheWindowNeverWaitsOnAFifo) {
    Accept(dir.Write("left.ps", AcceptedInput()), dir.Write("right.ps", AcceptedInput()));
    const std::string fifo = dir.Path("pipe.PS");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Should the command wait for a reader, one comes after 5 s.
    std::thread reader([&] {
        ::usleep(5'000'000);
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        char buf[4096];
        ::usleep(200'000);
        while (::read(fd, buf, sizeof buf) > 0) {
        }
        ::close(fd);
    });
    desktop.saveAnswers = {fifo};
    const auto start = std::chrono::steady_clock::now();
    cmdMerge_Click(form);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    reader.join();
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text.rfind("Could not save " + fifo + "\r\n", 0), 0u)
        << desktop.boxes[0].text;
    EXPECT_TRUE(captions.changes.empty());
}
#else
// A device chosen in the save dialog is refused with a message: the window
// never waits for one to take what it writes.
TEST_F(MergeCommandTest, TheWindowNeverWaitsOnADevice) {
    Accept(dir.Write("left.ps", AcceptedInput()), dir.Write("right.ps", AcceptedInput()));
    for (const char* name : {"COM1.PS", "nul.PS", "con"}) {
        desktop.boxes.clear();
        desktop.saveAnswers = {dir.Path(name)};
        cmdMerge_Click(form);
        ASSERT_EQ(desktop.boxes.size(), 1u);
        EXPECT_NE(desktop.boxes[0].text.find(", a device of Windows, not a file"), std::string::npos)
            << desktop.boxes[0].text;
    }
    EXPECT_TRUE(captions.changes.empty());
}
#endif

// Save as PDF and Print, the window's ways to a sheet that prints whole:
// refused as MERGE + SAVE refuses, asked and told as it asks and tells.
class SheetCommandTest : public MergeCommandTest {
protected:
    void AcceptSamples() {
        Accept(dir.Write("left.ps", ReadBytes(testing::TestData("top.ps"))),
               dir.Write("right.ps", ReadBytes(testing::TestData("bottom.ps"))));
    }

    // A print system that keeps the jobs it is given.
    struct Spooler : PrintSpooler {
        std::vector<std::string> printers{"office"};
        struct Job {
            std::string printer, bytes, title;
            PrintOptions options;
        };
        std::vector<Job> jobs;
        std::string refusal;  // non-empty: every job refused so
        bool cancel = false;  // the printer's own dialog is cancelled
        std::vector<std::string> Printers() override { return printers; }
        PrintJob Send(const std::string& printer, const std::string& file, const std::string& title,
                      const PrintOptions& options) override {
            jobs.push_back({printer, ReadBytes(file), title, options});
            if (cancel) return PrintJob{false, 0, "", true};
            return refusal.empty() ? PrintJob{true, 7, ""} : PrintJob{false, 0, refusal};
        }
    } spooler;

    Ghostscript ghostscript;
};

TEST_F(SheetCommandTest, SaveAsPdfAsksAndTellsAsMergeAndSaveDoes) {
    SaveSheetAsPdf(form, ghostscript);
    PrintSheet(form, ghostscript, spooler);
    EXPECT_EQ(desktop.Texts(), (Texts{kInputsNotCorrect, kInputsNotCorrect}));
    EXPECT_TRUE(desktop.dialogs.empty() && desktop.printDialogs.empty());
    desktop.boxes.clear();

    AcceptSamples();
    const std::string pdf = dir.Path("left_Combi.pdf");
    desktop.saveAnswers = {pdf};
    SaveSheetAsPdf(form, ghostscript);
    ASSERT_EQ(desktop.dialogs.size(), 1u);
    const SaveDialog& dialog = desktop.dialogs[0];
    EXPECT_EQ(dialog.fileName, pdf);
    EXPECT_EQ(dialog.initDir + PlatformSeparator(), dir.Path(""));
    EXPECT_EQ(dialog.defaultExt, "pdf");
    EXPECT_EQ(dialog.filter, "PDF (*.pdf)|*.pdf");
    EXPECT_EQ(dialog.flags, SaveDialog::kOverwritePrompt);
    EXPECT_EQ(desktop.busy, Texts{kMakingThePdf});
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, "All looks OK!  ");
    EXPECT_EQ(desktop.boxes[0].title, "OK!");
    EXPECT_EQ(ReadBytes(pdf).rfind("%PDF-", 0), 0u);
    EXPECT_TRUE(captions.changes.empty()) << "the zones keep their captions";

    // A Ghostscript failure is told as a failed save; the file is kept.
    desktop.boxes.clear();
    const std::string bad = dir.Write("bad.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"));
    DropOnZone(Zone::Top, {bad}, form);
    desktop.saveAnswers = {pdf};
    const std::string before = ReadBytes(pdf);
    SaveSheetAsPdf(form, ghostscript);
    EXPECT_EQ(desktop.Texts(), Texts{"Could not save " + pdf +
                                     "\r\nGhostscript: Error: /undefined in nosuchoperator"});
    EXPECT_EQ(ReadBytes(pdf), before);

    // Stopped while busy: nothing written, nothing said.
    desktop.boxes.clear();
    DropOnZone(Zone::Top, {dir.Path("left.ps")}, form);
    desktop.cancelBusy = true;
    desktop.saveAnswers = {dir.Path("stopped.pdf")};
    SaveSheetAsPdf(form, ghostscript);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.Path("stopped.pdf")));

    // A PDF the dialog was told to replace is replaced; a FIFO is refused at
    // once, without waiting for a reader.
    desktop.cancelBusy = false;
    const std::string old = dir.Write("old.pdf", "precious");
#ifdef _WIN32
    const std::string fifo = dir.Path("CON.pdf");
    const std::string refusal = "is CON, a device of Windows, not a file";
#else
    const std::string fifo = dir.Path("pipe.pdf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string refusal = "is a FIFO, not a file";
#endif
    desktop.saveAnswers = {old, fifo};
    SaveSheetAsPdf(form, ghostscript);
    const auto start = std::chrono::steady_clock::now();
    SaveSheetAsPdf(form, ghostscript);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(desktop.Texts(),
              (Texts{"All looks OK!  ", "Could not save " + fifo + "\r\n" + refusal}));
    EXPECT_EQ(ReadBytes(old), ReadBytes(pdf));
}

// MERGE + SAVE offers PDF as a second type: a name ending in .pdf, in any
// case, gets the PDF (as Save as PDF writes it), never PostScript.
TEST_F(SheetCommandTest, MergeAndSaveWritesAPdfForAPdfName) {
    AcceptSamples();
    const PdfWriter writePdf = [this](FormContext& inner, const std::string& output,
                                      IfExists ifExists) {
        return WriteSheetPdf(inner, ghostscript, output, ifExists);
    };
    desktop.saveAnswers = {dir.Path("sheet.PdF"), dir.Path("sheet.PS")};
    cmdMerge_Click(form, writePdf);
    cmdMerge_Click(form, writePdf);
    ASSERT_EQ(desktop.dialogs.size(), 2u);
    EXPECT_EQ(desktop.dialogs[0].filter, "Postscript (*.PS)|*.PS|PDF (*.pdf)|*.pdf");
    EXPECT_EQ(desktop.dialogs[0].defaultExt, "PS");
    EXPECT_EQ(ReadBytes(dir.Path("sheet.PdF")).rfind("%PDF-", 0), 0u);
    EXPECT_EQ(ReadBytes(dir.Path("sheet.PS")).rfind("%!PS-Adobe", 0), 0u);
    EXPECT_EQ(desktop.Texts(), (Texts{"All looks OK!  ", "All looks OK!  "}));
    using Change = std::pair<Label, std::string>;
    EXPECT_EQ(captions.changes.size(), 4u);
    EXPECT_EQ(captions.changes[0], (Change{Label::lblBottom, "BOTTOM"}));

    // A PDF that fails is told as a failed save, and the zones keep their captions.
    captions.changes.clear();
    desktop.boxes.clear();
    DropOnZone(Zone::Top, {dir.Write("bad.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"))},
               form);
    captions.changes.clear();
    desktop.saveAnswers = {dir.Path("bad.pdf")};
    cmdMerge_Click(form, writePdf);
    EXPECT_EQ(desktop.Texts(), Texts{"Could not save " + dir.Path("bad.pdf") +
                                     "\r\nGhostscript: Error: /undefined in nosuchoperator"});
    EXPECT_TRUE(captions.changes.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.Path("bad.pdf")));
}

// The sheet on a printer's paper, in its pixels: as large as the printable
// part allows, centred on the paper, pushed in where a margin would cut it.
TEST(SheetOnPaperTest, FitsCentresAndNeverCuts) {
    const struct {
        const char* paper;
        double width, height;
        SheetBox printable, sheet;
    } cases[] = {
        {"A4 at 300 dpi", 2480, 3508, {50, 50, 2380, 3408}, {0, 20, 2380, 3368}},
        {"Letter", 2550, 3300, {50, 50, 2450, 3200}, {94.35, 0, 2261.28, 3200}},
        {"a wide top margin", 1000, 1414, {0, 100, 1000, 1314}, {35.71, 0, 928.58, 1314}},
        {"a wide left margin", 1000, 1414, {200, 0, 800, 1414}, {0, 140.95, 800, 1132.10}},
        {"A4 across", 3508, 2480, {0, 0, 3508, 2480}, {877.75, 0, 1752.49, 2480}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.paper);
        const SheetBox sheet = SheetOnPaper(c.width, c.height, c.printable);
        EXPECT_NEAR(sheet.left, c.sheet.left, 0.05);
        EXPECT_NEAR(sheet.top, c.sheet.top, 0.05);
        EXPECT_NEAR(sheet.width, c.sheet.width, 0.05);
        EXPECT_NEAR(sheet.height, c.sheet.height, 0.05);
        EXPECT_LE(sheet.left + sheet.width, c.printable.width + 1e-9) << "never cut";
        EXPECT_LE(sheet.top + sheet.height, c.printable.height + 1e-9) << "never cut";
    }
}

TEST_F(SheetCommandTest, PrintHandsThePdfToThePrinterChosen) {
    AcceptSamples();
    spooler.printers.clear();
    PrintSheet(form, ghostscript, spooler);
    EXPECT_EQ(desktop.Texts(), Texts{kNoPrinter});
    EXPECT_TRUE(desktop.printDialogs.empty());

    spooler.printers = {"office"};
    desktop.boxes.clear();
    PrintSheet(form, ghostscript, spooler);  // the dialog is cancelled
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(spooler.jobs.empty());

    const PrintOptions options = {{"copies", "2"}, {"sides", "two-sided-long-edge"}};
    desktop.printAnswers = {PrintChoice{"office", "", options}};
    PrintSheet(form, ghostscript, spooler);
    EXPECT_EQ(desktop.Texts(), Texts{"Sent to office"});
    ASSERT_EQ(spooler.jobs.size(), 1u);
    EXPECT_EQ(spooler.jobs[0].printer, "office");
    EXPECT_EQ(spooler.jobs[0].bytes.rfind("%PDF-", 0), 0u) << "a PDF, never the PostScript";
    EXPECT_EQ(spooler.jobs[0].title, "left_Combi.pdf");
    EXPECT_EQ(spooler.jobs[0].options, options);

    // The print system's reason; a file chosen instead gets the PDF.
    desktop.boxes.clear();
    spooler.refusal = "The printer is not accepting jobs.";
    desktop.printAnswers = {PrintChoice{"office", "", {}}, PrintChoice{"", dir.Path("f.pdf"), {}}};
    PrintSheet(form, ghostscript, spooler);
    PrintSheet(form, ghostscript, spooler);
    EXPECT_EQ(desktop.Texts(),
              (Texts{"Could not print on office\r\nThe printer is not accepting jobs.",
                     "All looks OK!  "}));
    EXPECT_EQ(ReadBytes(dir.Path("f.pdf")), spooler.jobs[0].bytes);

    // Cancelled in the printer's own dialog: nothing said.
    desktop.boxes.clear();
    spooler.refusal.clear();
    spooler.cancel = true;
    desktop.printAnswers = {PrintChoice{"office", "", {}}};
    PrintSheet(form, ghostscript, spooler);
    EXPECT_TRUE(desktop.boxes.empty()) << desktop.Texts().front();
    spooler.cancel = false;

    // A TOP named too long for a print job's title: the title is cut to what
    // a print system takes, and nothing of our own folder is ever named.
    desktop.boxes.clear();
    spooler.jobs.clear();
    spooler.refusal.clear();
    std::string accented;
    for (int i = 0; i < 125; ++i) accented += "\xc3\xa9";  // é
    const std::string longTop = dir.Write(accented + ".ps", ReadBytes(testing::TestData("top.ps")));
    DropOnZone(Zone::Top, {longTop}, form);
    desktop.printAnswers = {PrintChoice{"office", "", {}}};
    PrintSheet(form, ghostscript, spooler);
    EXPECT_EQ(desktop.Texts(), Texts{"Sent to office"});
    ASSERT_EQ(spooler.jobs.size(), 1u);
    EXPECT_EQ(spooler.jobs[0].title, accented + "_Comb");
    DropOnZone(Zone::Top, {dir.Write("bad.ps", AcceptedInput("nosuchoperator\r\nshowpage\r\n"))},
               form);
    desktop.printAnswers = {PrintChoice{"office", "", {}}};
    PrintSheet(form, ghostscript, spooler);
    EXPECT_EQ(desktop.Texts().back(),
              "Could not print on office\r\nGhostscript: Error: /undefined in nosuchoperator");
    EXPECT_EQ(JobTitle("short.pdf"), "short.pdf");
    EXPECT_EQ(JobTitle(std::string(254, 'a') + "\xc3\xa9"), std::string(254, 'a'))
        << "cut between characters";
    EXPECT_EQ(JobTitle(std::string(253, 'a') + "\xc3\xa9"), std::string(253, 'a') + "\xc3\xa9");

    // Without Ghostscript, the package to install.
    desktop.boxes.clear();
    GhostscriptSettings missing;
    missing.program = "/nonexistent/gs";
    const Ghostscript none(missing);
    PrintSheet(form, none, spooler);
    SaveSheetAsPdf(form, none);
    EXPECT_EQ(desktop.Texts(), (Texts{kGhostscriptMissing, kGhostscriptMissing}));
}

}  // namespace
}  // namespace a5merge
