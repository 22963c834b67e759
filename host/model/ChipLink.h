// What the setup model needs of a drive: variables and parameters by name, in
// internal units. The drive layer implements it; without one the setup is
// not connected and every access fails.
#pragma once

#include <string>

class CMC_ChipLink {
public:
    virtual ~CMC_ChipLink() = default;
    virtual bool ReadVariable(const std::string& name, double& internalValue) = 0;
    virtual bool WriteVariable(const std::string& name, double internalValue) = 0;
    virtual bool WriteParameter(const std::string& name, double internalValue) = 0;
    // Why the last access failed.
    virtual std::string LastError() const = 0;
};

class CMC_DisconnectedLink final : public CMC_ChipLink {
public:
    bool ReadVariable(const std::string&, double&) override { return false; }
    bool WriteVariable(const std::string&, double) override { return false; }
    bool WriteParameter(const std::string&, double) override { return false; }
    std::string LastError() const override { return "The drive is not connected."; }
};
