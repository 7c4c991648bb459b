#include "XmlDocument.h"

#include <cctype>
#include <new>
#include <string_view>
#include <vector>

#include <shlwapi.h>

#include "Paths.h"
#include "Text.h"

namespace {

// mingw's import libraries lack this interface's identifier.
constexpr IID kDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

std::string TrimRight(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

bool SameName(const BString& name, std::wstring_view wanted)
{
    return std::wstring_view(name.Get() != nullptr ? name.Get() : L"", SysStringLen(name.Get())) == wanted;
}

ComPtr<IXMLDOMDocument> CreateDomDocument()
{
    CLSID classId;
    CheckHResult(CLSIDFromProgID(L"Msxml2.DOMDocument.6.0", &classId), "MSXML 6 is not available");
    ComPtr<IXMLDOMDocument> document;
    CheckHResult(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                  reinterpret_cast<void**>(document.GetAddressOf())),
                 "Cannot create an MSXML 6 document");
    CheckHResult(document->put_async(VARIANT_FALSE), "Cannot set up the XML document");
    // A second guard behind RefuseDocumentType: no external entity is fetched and no DTD accepted where the parser
    // honours these (Wine's ignores ProhibitDTD).
    CheckHResult(document->put_resolveExternals(VARIANT_FALSE), "Cannot set up the XML document");
    ComPtr<IXMLDOMDocument2> settings;
    if (SUCCEEDED(document->QueryInterface(kDocument2, reinterpret_cast<void**>(settings.GetAddressOf())))) {
        CheckHResult(settings->setProperty(BString(std::string_view("ProhibitDTD")).Get(), Variant(true).Get()),
                     "Cannot set up the XML document");
    }
    return document;
}

// Descriptors and file lists come from outside: a document type declaration could define entities that rewrite
// the paths the flows act on, or fetch other files. Every document is refused before the parser sees it, so that
// Windows and Wine (whose parser expands entities whatever ProhibitDTD says) behave alike. The markup is ASCII in
// every encoding we read; a UTF-16 text is looked at as UTF-16.
bool HasDocumentType(std::string_view bytes)
{
    constexpr std::string_view kMarkup = "<!DOCTYPE";
    auto matchesAt = [&](size_t at, size_t step) {
        for (size_t i = 0; i < kMarkup.size(); ++i) {
            const size_t index = at + i * step;
            if (index >= bytes.size()) return false;
            if (std::toupper(static_cast<unsigned char>(bytes[index])) != kMarkup[i]) return false;
        }
        return true;
    };
    for (size_t at = 0; at < bytes.size(); ++at) {
        if (matchesAt(at, 1) || matchesAt(at, 2)) return true;
    }
    return false;
}

void RefuseDocumentType(std::string_view bytes, const std::string& what)
{
    if (HasDocumentType(bytes)) {
        const std::string reason = "a document type declaration (<!DOCTYPE>) is not allowed";
        throw EDOMParseError(what + ": " + reason, reason, 0, 0);
    }
}

[[noreturn]] void ThrowParseError(IXMLDOMDocument* document, const std::string& what)
{
    ComPtr<IXMLDOMParseError> error;
    BString reasonText;
    long line = 0;
    long position = 0;
    if (SUCCEEDED(document->get_parseError(error.GetAddressOf())) && error != nullptr) {
        error->get_reason(reasonText.Receive());
        error->get_line(&line);
        error->get_linepos(&position);
    }
    std::string reason = TrimRight(reasonText.Utf8());
    if (reason.empty()) reason = "the XML parser gave no reason";
    std::string message = what + ": " + reason;
    if (line > 0) message += " (line " + std::to_string(line) + ", position " + std::to_string(position) + ")";
    throw EDOMParseError(message, reason, line, position);
}

// The file is opened by us rather than by MSXML, which takes its source as a URL: there '#' and '%' have meanings
// of their own, and the long-path form \\?\ has none.
ComPtr<IStream> OpenFileStream(const std::string& path, DWORD mode, BOOL create, const char* what)
{
    ComPtr<IStream> stream;
    CheckHResult(SHCreateStreamOnFileEx(ToApiPath(path).c_str(), mode, FILE_ATTRIBUTE_NORMAL, create, nullptr,
                                        stream.GetAddressOf()),
                 std::string(what) + " \"" + path + "\"");
    return stream;
}

// The whole file, read once: the parser is given the very bytes that were checked.
std::string ReadWholeStream(IStream* stream, const std::string& path)
{
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ULONG read = 0;
        const HRESULT result = stream->Read(buffer, sizeof buffer, &read);
        if (FAILED(result)) CheckHResult(result, "Cannot read \"" + path + "\"");
        bytes.append(buffer, read);
        if (read < sizeof buffer) return bytes;
    }
}

// A file's bytes, in whatever encoding its declaration names; `name` is what the messages call it.
void LoadBytes(IXMLDOMDocument* document, const std::string& bytes, const std::string& name)
{
    const std::string what = "Cannot load \"" + name + "\"";
    RefuseDocumentType(bytes, what);
    ComPtr<IStream> memory;
    memory.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
    if (memory == nullptr) throw std::bad_alloc();
    const Variant source(memory.Get());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->load(source.Get(), &loaded);
    if (FAILED(result) || loaded != VARIANT_TRUE) ThrowParseError(document, what);
}

void LoadFile(IXMLDOMDocument* document, const std::string& path)
{
    const ComPtr<IStream> file = OpenFileStream(path, STGM_READ | STGM_SHARE_DENY_WRITE, FALSE, "Cannot open");
    LoadBytes(document, ReadWholeStream(file.Get(), path), path);
}

void LoadText(IXMLDOMDocument* document, const std::string& text)
{
    RefuseDocumentType(text, "Cannot parse the XML text");
    const BString source(text);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->loadXML(source.Get(), &loaded);
    if (FAILED(result) || loaded != VARIANT_TRUE) ThrowParseError(document, "Cannot parse the XML text");
}

bool IsXmlDeclaration(IXMLDOMNode* node)
{
    DOMNodeType type = NODE_INVALID;
    BString name;
    return node != nullptr && SUCCEEDED(node->get_nodeType(&type)) && type == NODE_PROCESSING_INSTRUCTION &&
           SUCCEEDED(node->get_nodeName(name.Receive())) && SameName(name, L"xml");
}

// Makes the document start with a declaration for UTF-8, replacing one that names another encoding: MSXML on
// Windows writes the declared encoding, Wine's always writes UTF-8, so only UTF-8 reads back alike on both.
void DeclareUtf8(IXMLDOMDocument* document)
{
    ComPtr<IXMLDOMNode> first;
    CheckHResult(document->get_firstChild(first.GetAddressOf()), "Cannot read the XML document");
    ComPtr<IXMLDOMProcessingInstruction> declaration;
    CheckHResult(document->createProcessingInstruction(BString(L"xml").Get(),
                                                       BString(L"version=\"1.0\" encoding=\"UTF-8\"").Get(),
                                                       declaration.GetAddressOf()),
                 "Cannot create the XML declaration");
    ComPtr<IXMLDOMNode> added;
    if (IsXmlDeclaration(first.Get()))
        CheckHResult(document->replaceChild(declaration.Get(), first.Get(), added.GetAddressOf()),
                     "Cannot replace the XML declaration");
    else if (first != nullptr)
        CheckHResult(document->insertBefore(declaration.Get(), Variant(first.Get()).Get(), added.GetAddressOf()),
                     "Cannot add the XML declaration");
    else
        CheckHResult(document->appendChild(declaration.Get(), added.GetAddressOf()), "Cannot add the XML declaration");
}

std::vector<ComPtr<IXMLDOMElement>> ChildElements(IXMLDOMElement* parent)
{
    std::vector<ComPtr<IXMLDOMElement>> elements;
    ComPtr<IXMLDOMNode> node;
    CheckHResult(parent->get_firstChild(node.GetAddressOf()), "Cannot read the child nodes");
    while (node != nullptr) {
        DOMNodeType type = NODE_INVALID;
        CheckHResult(node->get_nodeType(&type), "Cannot read the child nodes");
        if (type == NODE_ELEMENT) {
            ComPtr<IXMLDOMElement> element;
            CheckHResult(node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.GetAddressOf())),
                         "Cannot read the child nodes");
            elements.push_back(std::move(element));
        }
        ComPtr<IXMLDOMNode> next;
        CheckHResult(node->get_nextSibling(next.GetAddressOf()), "Cannot read the child nodes");
        node = std::move(next);
    }
    return elements;
}

std::string VariantText(const VARIANT& value)
{
    if (value.vt == VT_BSTR) return Narrow(std::wstring_view(value.bstrVal, SysStringLen(value.bstrVal)));
    Variant text;
    // The source is only read; the declaration lacks the const.
    CheckHResult(VariantChangeType(text.Receive(), const_cast<VARIANT*>(&value), 0, VT_BSTR),
                 "Cannot read the value as text");
    return VariantText(text.Get());
}

}  // namespace

// ---- TXMLNode

std::string TXMLNode::NodeName() const
{
    BString name;
    CheckHResult(element_->get_nodeName(name.Receive()), "Cannot read the element's name");
    return name.Utf8();
}

TXMLNode TXMLNode::ChildNodes(const std::string& name)
{
    const std::wstring wanted = Widen(name);
    for (auto& child : ChildElements(element_.Get())) {
        BString childName;
        CheckHResult(child->get_nodeName(childName.Receive()), "Cannot read the element's name");
        if (SameName(childName, wanted)) return TXMLNode(std::move(child));
    }

    ComPtr<IXMLDOMDocument> owner;
    CheckHResult(element_->get_ownerDocument(owner.GetAddressOf()), "Cannot read the XML document");
    ComPtr<IXMLDOMElement> created;
    CheckHResult(owner->createElement(BString(std::wstring_view(wanted)).Get(), created.GetAddressOf()),
                 "Cannot create the element \"" + name + "\"");
    ComPtr<IXMLDOMNode> appended;
    CheckHResult(element_->appendChild(created.Get(), appended.GetAddressOf()),
                 "Cannot add the element \"" + name + "\"");
    return TXMLNode(std::move(created));
}

int TXMLNode::ChildCount() const
{
    return static_cast<int>(ChildElements(element_.Get()).size());
}

TXMLNode TXMLNode::Child(int index) const
{
    auto children = ChildElements(element_.Get());
    if (index < 0 || static_cast<size_t>(index) >= children.size())
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    return TXMLNode(std::move(children[static_cast<size_t>(index)]));
}

std::string TXMLNode::Text()
{
    ComPtr<IXMLDOMNodeList> children;
    CheckHResult(element_->get_childNodes(children.GetAddressOf()), "Cannot read the child nodes");
    long count = 0;
    CheckHResult(children->get_length(&count), "Cannot read the child nodes");

    if (count == 0) {
        // An element without content gets the empty text node it reads as, so that a later save shows the
        // element with its (empty) text rather than leaving the reader's assumption invisible.
        ComPtr<IXMLDOMDocument> owner;
        CheckHResult(element_->get_ownerDocument(owner.GetAddressOf()), "Cannot read the XML document");
        ComPtr<IXMLDOMText> empty;
        CheckHResult(owner->createTextNode(BString(L"").Get(), empty.GetAddressOf()), "Cannot create a text node");
        ComPtr<IXMLDOMNode> appended;
        CheckHResult(element_->appendChild(empty.Get(), appended.GetAddressOf()), "Cannot add a text node");
        return {};
    }

    if (count == 1) {
        ComPtr<IXMLDOMNode> only;
        CheckHResult(children->get_item(0, only.GetAddressOf()), "Cannot read the child nodes");
        DOMNodeType type = NODE_INVALID;
        CheckHResult(only->get_nodeType(&type), "Cannot read the child nodes");
        if (type == NODE_TEXT || type == NODE_CDATA_SECTION) {
            // The node's value, not the element's text property: that one trims surrounding whitespace.
            Variant value;
            CheckHResult(only->get_nodeValue(value.Receive()), "Cannot read the element's text");
            return VariantText(value.Get());
        }
    }
    throw EXMLDocError("Element \"" + NodeName() + "\" does not contain a single text node");
}

std::optional<std::string> TXMLNode::Attribute(const std::string& name) const
{
    Variant value;
    CheckHResult(element_->getAttribute(BString(name).Get(), value.Receive()),
                 "Cannot read the attribute \"" + name + "\"");
    if (value.Get().vt == VT_NULL || value.Get().vt == VT_EMPTY) return std::nullopt;
    return VariantText(value.Get());
}

std::string TXMLNode::AttributeText(const std::string& name) const
{
    auto value = Attribute(name);
    if (!value) throw EVariantTypeCastError();
    return std::move(*value);
}

// ---- TXMLDocument

void TXMLDocument::LoadFromFile(const std::string& path)
{
    text_.clear();
    bytes_.reset();
    fileName_ = path;
    document_.Reset();
    Activate();
}

void TXMLDocument::LoadFromBytes(std::string bytes, const std::string& name)
{
    text_.clear();
    bytes_ = std::move(bytes);
    fileName_ = name;
    document_.Reset();
    Activate();
}

void TXMLDocument::SetActive(bool active)
{
    if (!active)
        document_.Reset();
    else if (!Active())
        Activate();
}

void TXMLDocument::SetXMLText(std::string text)
{
    text_ = std::move(text);
}

void TXMLDocument::Activate()
{
    // A fresh parser each time, so that a failed parse cannot leave a previous tree behind (Wine's MSXML keeps
    // it when a load fails).
    ComPtr<IXMLDOMDocument> document = CreateDomDocument();
    if (!text_.empty())
        LoadText(document.Get(), text_);
    else if (bytes_)
        LoadBytes(document.Get(), *bytes_, fileName_);
    else if (!fileName_.empty())
        LoadFile(document.Get(), fileName_);
    document_ = std::move(document);
}

void TXMLDocument::CheckActive() const
{
    if (!Active()) throw EXMLDocError("No active document");
}

TXMLNode TXMLDocument::DocumentElement() const
{
    CheckActive();
    ComPtr<IXMLDOMElement> root;
    CheckHResult(document_->get_documentElement(root.GetAddressOf()), "Cannot read the document element");
    if (root == nullptr) throw EXMLDocError("The XML document has no document element");
    return TXMLNode(std::move(root));
}

void TXMLDocument::SaveToFile(const std::string& path)
{
    CheckActive();
    DeclareUtf8(document_.Get());
    const ComPtr<IStream> stream =
        OpenFileStream(path, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, TRUE, "Cannot create");
    CheckHResult(document_->save(Variant(stream.Get()).Get()), "Cannot save \"" + path + "\"");
}
