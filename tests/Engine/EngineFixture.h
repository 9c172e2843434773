// What the end-to-end engine tests share: the engine library loaded through its exports, a
// recording logger on the test's thread, a fixture tree written for each test, and the journal
// that the probe plug-ins (e2e_probe) write into that tree.
#ifndef ORV_TEST_ENGINE_FIXTURE_H
#define ORV_TEST_ENGINE_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "Common/ORVConsts.h"
#include "Common/Platform.h"
#include "Companion/TarnXMLUtils.h"
#include "ModelTestSupport.h"
#include "Support/EngineModule.h"
#include "Support/RecordingLogger.h"
#include "Support/TempFolder.h"

namespace orv::test {

using TStrings = std::vector<std::string>;

inline const std::string BinDir = ORV_TEST_BIN_DIR;
inline const char* const JournalName = "orv-e2e-journal.txt";
inline const char* const ApplicationsPoint = "ORVEngine.Runtime.applications";

inline std::string ProbeLibrary() { return TestPluginPath("e2e_probe"); }

// --- manifest and configuration text ----------------------------------------------------------

inline std::string PluginElement(const std::string& ID, bool Initialize, const std::string& Body = std::string(),
                                 const std::string& Library = ProbeLibrary()) {
    return "<Plugin ID=\"" + ID + "\" Name=\"" + ID + "\" Version=\"1.0\" Initialize=\"" +
           (Initialize ? "true" : "false") + "\" Library=\"" + Library + "\">" + Body + "</Plugin>";
}

inline std::string ExtensionElement(const std::string& ID, const std::string& Points, const std::string& Factory = "") {
    return "<Extension ID=\"" + ID + "\" Points=\"" + Points + "\"" +
           (Factory.empty() ? std::string() : " FactoryMethod=\"" + Factory + "\"") + "/>";
}

inline std::string PointElement(const std::string& ID, const std::string& Rules = "") {
    return "<ExtensionPoint ID=\"" + ID + "\" " + Rules + "/>";
}

inline const std::string GreetingVariables =
    "<EnvironmentVariables><Variable Name=\"Greeting\" Value=\"hello\"/></EnvironmentVariables>";

// --- reading results ---------------------------------------------------------------------------

// The start and stop lines carry the date and time: their argument reads "<now>" in LogLines().
inline std::string Plain(char Level, const std::string& Text) { return std::string(1, Level) + " " + Text; }

inline std::string StartLine() { return LogLine('I', SEngineStarted, {"<now>"}); }
inline std::string StopLine() { return LogLine('I', SEngineStopped, {"<now>"}); }
inline std::string NoEntryLine() { return LogLine('E', SNoEntryPoint); }
inline std::string BoundLine(const std::string& ID, const std::string& Library = ProbeLibrary()) {
    return LogLine('I', SPluginBoundToDll, {ID, Library});
}

template <class T>
TStrings IDsOf(const Ref<T>& Items) {
    TStrings Result;
    for (int32_t I = 0; I < Items->GetCount(); ++I) Result.push_back(Items->GetItem(I)->GetID());
    return Result;
}

inline bool SameObject(const Ref<IInterface>& A, const Ref<IInterface>& B) { return A.Get() == B.Get(); }
template <class T>
Ref<IInterface> Identity(const Ref<T>& R) {
    return R.template Query<IInterface>();
}

// The message of the assertion that Call fails; empty when it raises nothing.
template <class F>
std::string AssertionText(F Call) {
    try {
        Call();
    } catch (const EAssertionFailed& E) {
        return E.what();
    }
    return std::string();
}

class TEngineFixture : public ::testing::Test {
protected:
    void SetUp() override {
        Module.SetLogger(Logger.Get());
        Tree.WriteFile(JournalName, "");
    }
    void TearDown() override { Module.SetLogger(nullptr); }

    // Writes <Folder>/plugin.xml (Folder relative to the tree) with Plugins under a Plugins root.
    std::string Manifest(const std::string& Folder, const std::string& Plugins,
                         const std::string& Name = "plugin.xml") const {
        return Tree.WriteFile(Folder + "/" + Name, "<?xml version=\"1.0\"?>\n<Plugins>" + Plugins + "</Plugins>\n");
    }
    // Writes the engine configuration Relative: root attributes Attributes, child elements Children.
    std::string EngineConfig(const std::string& Attributes, const std::string& Children = "",
                             const std::string& Relative = "engine.xml") const {
        return Tree.WriteFile(Relative,
                              "<?xml version=\"1.0\"?>\n<Engine " + Attributes + ">" + Children + "</Engine>\n");
    }
    std::string PathAttribute(const std::string& Folder) const { return "Path=\"" + Tree.PathOf(Folder) + "\""; }

    // Under Root: ORVEngine.Runtime (started with the engine, declares the applications point),
    // e2e.app (started on first use; applications "main" and "other", in this order) and e2e.tool
    // (started with the engine, nothing declared).
    void WriteApplicationTree(const std::string& Root = "") const {
        Manifest(Root + "plugins/1runtime", PluginElement("ORVEngine.Runtime", true, PointElement("applications")));
        Manifest(Root + "plugins/2app", PluginElement("e2e.app", false,
                                                      ExtensionElement("main", ApplicationsPoint) +
                                                          ExtensionElement("other", ApplicationsPoint)));
        Manifest(Root + "plugins/3tool", PluginElement("e2e.tool", true));
    }

    // The journal's lines from line First on.
    TStrings Journal(std::size_t First = 0) const {
        std::ifstream In(Tree.PathOf(JournalName), std::ios::binary);
        TStrings Lines;
        for (std::string Line; std::getline(In, Line);) Lines.push_back(Line);
        if (First >= Lines.size()) return {};
        return TStrings(Lines.begin() + static_cast<std::ptrdiff_t>(First), Lines.end());
    }
    TStrings LogLines() const {
        TStrings Lines = Logger->Lines();
        for (std::string& Line : Lines)
            for (TMessageId Id : {SEngineStarted, SEngineStopped}) {
                const std::string Head = "I " + LoadMessage(Id) + " {";
                if (Line.compare(0, Head.size(), Head) == 0 && Line.size() > Head.size() + 1) Line = Head + "<now>}";
            }
        return Lines;
    }
    // The log lines recorded since the last call.
    TStrings NewLogLines() {
        TStrings Lines = LogLines();
        Logger->Clear();
        return Lines;
    }

    TEngineModule Module{TEngineModule::LibraryIn(BinDir)};
    Ref<TRecordingLogger> Logger = TRecordingLogger::Create();
    TTempFolder Tree;
};

}  // namespace orv::test

#endif
