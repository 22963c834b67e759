// A drive program image: a small file in the program folder that names the
// program and its user variables. The drive runs the program of that name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CMC_CoffFormat {
public:
    // Set by the test before ReadCoff.
    std::string m_strFileName;

    // Loads the file; non-zero on success. A missing or damaged file leaves
    // the image empty and the reason in LastError().
    int ReadCoff();
    // The same for the text of an image said to be m_strFileName.
    int ParseImage(std::string_view text);

    const std::string& ProgramName() const { return m_program; }
    const std::vector<std::string>& UserVariables() const { return m_userVariables; }
    bool HasUserVariable(const std::string& name) const;
    bool IsLoaded() const { return !m_program.empty(); }
    const std::string& LastError() const { return m_error; }

private:
    std::string m_program;
    std::vector<std::string> m_userVariables;
    std::string m_error;
};

// The folder of the drive programs: $VELMARO_PROGRAM_DIR, else data/programs.
std::string ProgramDirectory();
// Full path of the image of the named program.
std::string GetOutPathName(const std::string& programName);
