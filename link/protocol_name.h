#pragma once
// Names of protocol layers: either none ("(no name)") or a fixed text.

class Protocol_name {
public:
    virtual ~Protocol_name() = default;
    virtual int kind() const = 0;
    virtual const char* name() const = 0;
    virtual bool compare(const Protocol_name& other) const = 0;
};

class Protocol_name_null : public Protocol_name {
public:
    int kind() const override { return 0; }
    const char* name() const override { return "(no name)"; }
    bool compare(const Protocol_name& other) const override { return other.kind() == 0; }
};

class Protocol_name_str : public Protocol_name {
public:
    explicit Protocol_name_str(const char* name);
    Protocol_name_str(const Protocol_name_str& other) : Protocol_name_str(other.name_) {}
    Protocol_name_str& operator=(const Protocol_name_str&) = delete;
    ~Protocol_name_str() override;

    int kind() const override { return 1; }
    const char* name() const override { return name_; }
    bool compare(const Protocol_name& other) const override;

private:
    char* name_;
};

// What a layer says about itself; the base has no name.
class Protocol_info {
public:
    virtual ~Protocol_info() = default;
    virtual bool compare_name(const Protocol_name&) const { return false; }
    virtual const Protocol_name& name() const { return name_; }

private:
    Protocol_name_null name_;
};
