// Loading the camera library's function table from the vendor library or the simulated camera.
#include "camera/ueyeapi.h"

#include "camera/camerachoice.h"
#include "camera/simcamera.h"
#include "camera/sourcecamera.h"
#include "settings/settingskeys.h"

#include <QLibrary>

#include <type_traits>

namespace lapido {

namespace {

// Binds every call of the table by name; returns the names that were not found.
template <typename Resolve>
QStringList bindAll(UEyeApi& api, Resolve resolve)
{
    QStringList missing;
    auto bind = [&](auto& member, const char* name) {
        QFunctionPointer f = resolve(name);
        if (!f)
            missing << QString::fromLatin1(name);
        member = reinterpret_cast<std::remove_reference_t<decltype(member)>>(f);
    };
#define LAPIDO_BIND(fn) bind(api.fn, #fn)
    LAPIDO_BIND(is_InitCamera);
    LAPIDO_BIND(is_SetDisplayMode);
    LAPIDO_BIND(is_SetErrorReport);
    LAPIDO_BIND(is_GetSensorInfo);
    LAPIDO_BIND(is_SetImageSize);
    LAPIDO_BIND(is_SetAOI);
    LAPIDO_BIND(is_GetColorDepth);
    LAPIDO_BIND(is_AllocImageMem);
    LAPIDO_BIND(is_SetImageMem);
    LAPIDO_BIND(is_SetColorMode);
    LAPIDO_BIND(is_SetWhiteBalance);
    LAPIDO_BIND(is_SetAutoParameter);
    LAPIDO_BIND(is_SetBrightness);
    LAPIDO_BIND(is_SetContrast);
    LAPIDO_BIND(is_SetGamma);
    LAPIDO_BIND(is_FreezeVideo);
    LAPIDO_BIND(is_IsVideoFinish);
    LAPIDO_BIND(is_InquireImageMem);
    LAPIDO_BIND(is_SaveImageEx);
    LAPIDO_BIND(is_FreeImageMem);
    LAPIDO_BIND(is_ExitCamera);
#undef LAPIDO_BIND
    return missing;
}

} // namespace

QStringList uEyeApiSymbols()
{
    QStringList names;
    UEyeApi api;
    bindAll(api, [&](const char* name) {
        names << QString::fromLatin1(name);
        return QFunctionPointer(nullptr);
    });
    return names;
}

UEyeLibrary::~UEyeLibrary()
{
    // The table's pointers die with the library; unloading is left to process end, since a
    // camera library may keep threads of its own running after the camera is closed.
    m_api = {};
}

QString UEyeLibrary::name() const
{
    if (m_source)
        return m_source->name();
    return m_library ? m_library->fileName() : QStringLiteral("simulated camera");
}

HIDS UEyeLibrary::cameraId() const
{
    return m_source ? m_source->id() : 0;
}

QString UEyeLibrary::lastError() const
{
    return m_source ? m_source->lastError() : QString();
}

CameraControls UEyeLibrary::controls() const
{
    return m_source ? m_source->controls() : CameraControls{};
}

std::unique_ptr<UEyeLibrary> UEyeLibrary::make(const UEyeApi& api, std::unique_ptr<QLibrary> library)
{
    std::unique_ptr<UEyeLibrary> made(new UEyeLibrary());
    made->m_api = api;
    made->m_library = std::move(library);
    return made;
}

std::unique_ptr<UEyeLibrary> UEyeLibrary::load(const QString& fileName, QString* error, bool* notFound)
{
    if (notFound)
        *notFound = false;
    auto library = std::make_unique<QLibrary>(fileName);
    if (!library->load()) {
        if (notFound)
            *notFound = true;
        if (error)
            *error = library->errorString();
        return nullptr;
    }
    UEyeApi api;
    const QStringList missing = bindAll(api, [&](const char* name) { return library->resolve(name); });
    if (!missing.isEmpty()) {
        if (error)
            *error = QStringLiteral("%1 lacks %2").arg(library->fileName(), missing.join(QStringLiteral(", ")));
        return nullptr;
    }
    return make(api, std::move(library));
}

std::unique_ptr<UEyeLibrary> UEyeLibrary::simulated()
{
    return make(simulatedCameraApi(), nullptr);
}

std::unique_ptr<UEyeLibrary> UEyeLibrary::fromSource(std::unique_ptr<FrameSource> source)
{
    auto made = make(sourceCameraApi(), nullptr);
    made->m_source = std::make_unique<SourceCameraSlot>(std::move(source));
    return made;
}

std::unique_ptr<UEyeLibrary> openCameraLibrary(bool simulate, QString* why, const QString& vendorFile)
{
    if (simulate)
        return UEyeLibrary::simulated();
    // A pipeline, a GenICam camera or the simulated camera chosen in the settings; the vendor
    // library follows the rule below.
    if (const CameraChoice choice = storedCameraChoice(); choice.kind != CameraKind::Vendor)
        return openCameraChoice(choice, why, vendorFile);
    QString error;
    bool notFound = false;
    if (auto vendor = UEyeLibrary::load(vendorFile, &error, &notFound))
        return vendor;
    if (notFound && keys::read(keys::SimulateCamera))
        return UEyeLibrary::simulated();
    if (why)
        *why = error;
    return nullptr;
}

} // namespace lapido
