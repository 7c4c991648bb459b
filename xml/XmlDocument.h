// The XML document the flows read and write their descriptors through: MSXML 6's DOM behind the few operations
// the flows use, with the results they rely on. Needs COM on the calling thread (see ComApartment.h).
#pragma once

#include <optional>
#include <string>

#include <msxml2.h>

#include "ComTypes.h"
#include "Errors.h"

// An XML document used while it holds no parsed document, or an element read as text that holds more than text.
class EXMLDocError : public Exception {
public:
    using Exception::Exception;
};

// A missing attribute read as text.
class EVariantTypeCastError : public Exception {
public:
    EVariantTypeCastError() : Exception("Could not convert variant of type (Null) into type (String)") {}
};

// The parser refused a file or a text. The message carries the parser's reason and, where it gives one, the line.
class EDOMParseError : public EXMLDocError {
public:
    EDOMParseError(const std::string& message, std::string reason, long line, long position)
        : EXMLDocError(message), reason_(std::move(reason)), line_(line), position_(position)
    {
    }
    const std::string& Reason() const { return reason_; }
    long Line() const { return line_; }  // 0 when the parser names no line
    long Position() const { return position_; }

private:
    std::string reason_;
    long line_;
    long position_;
};

// An element of an active document. It keeps the element alive on its own, so it stays usable even after its
// document is deactivated, but it then belongs to the discarded tree.
class TXMLNode {
public:
    std::string NodeName() const;

    // The first child element called `name`; when there is none, an empty one is appended and returned.
    TXMLNode ChildNodes(const std::string& name);

    // Child elements in document order. Whitespace, comments and processing instructions are not counted.
    int ChildCount() const;
    TXMLNode Child(int index) const;  // index from 0; out of range raises

    // The element's text when its content is a single text node. An element without content reads as the empty
    // text and gains an empty text node; any other content (several nodes, a child element) raises EXMLDocError.
    std::string Text();

    // The attribute's value, or nothing when the element lacks it.
    std::optional<std::string> Attribute(const std::string& name) const;
    // The attribute's value; a missing attribute raises EVariantTypeCastError, as a null read as text does.
    std::string AttributeText(const std::string& name) const;

private:
    friend class TXMLDocument;
    explicit TXMLNode(ComPtr<IXMLDOMElement> element) : element_(std::move(element)) {}

    ComPtr<IXMLDOMElement> element_;
};

// The document. It is active while it holds a parsed tree. Its source is either a text it holds or, when it
// holds none, the bytes or the file last loaded; activation parses that source afresh.
class TXMLDocument {
public:
    TXMLDocument() = default;
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    // Discards any held text and parses the file (UTF-8 path). A missing or malformed file raises and leaves the
    // document inactive.
    void LoadFromFile(const std::string& path);
    // The same for bytes already read, as a file holds them (in whatever encoding the declaration names): the
    // document parses exactly what its caller has checked. `name` is what the messages call them (their file).
    void LoadFromBytes(std::string bytes, const std::string& name);

    // Inactive discards the tree. Active parses the held text, or the bytes or last file loaded when no text is held,
    // or starts an empty document when there is neither; a parse failure raises and leaves the document inactive.
    // Making an active document active again changes nothing.
    void SetActive(bool active);
    bool Active() const { return document_ != nullptr; }

    // Replaces the held source text (UTF-8); it is parsed on the next activation. The empty text holds nothing.
    void SetXMLText(std::string text);

    // Raises EXMLDocError("No active document") when inactive.
    TXMLNode DocumentElement() const;

    // Writes the active document to the file, replacing it, always as UTF-8: the document's XML declaration
    // becomes (or is added as) one for UTF-8 first, so that any character survives and every reader knows the
    // encoding, whatever encoding the document was read from.
    void SaveToFile(const std::string& path);

private:
    void Activate();
    void CheckActive() const;

    ComPtr<IXMLDOMDocument> document_;  // null while inactive
    std::string text_;
    std::optional<std::string> bytes_;  // loaded from bytes: they stand for the file
    std::string fileName_;
};
