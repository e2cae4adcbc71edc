// Reading an opened device's descriptors and strings.
#include "link/libusb_internal.h"

#include "link/box_usb_device.h"

#include <algorithm>
#include <cstdio>

namespace libusb_impl {

namespace {

// Most configurations and interfaces (alternate settings included) kept.
constexpr int kMaxConfigurations = 2;
constexpr std::size_t kMaxInterfaces = 8;

std::string utf16leToUtf8(const unsigned char* p, int bytes)
{
    std::string out;
    const int units = bytes / 2;
    for (int i = 0; i < units; ++i) {
        std::uint32_t c = p[2 * i] | (p[2 * i + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const std::uint32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                ++i;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;  // unpaired surrogate
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::uint16_t chooseLanguage(libusb_device_handle* h)
{
    unsigned char buf[255];
    const int n = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                          LIBUSB_DT_STRING << 8, 0, buf, sizeof buf, kControlTimeoutMs);
    if (n < 4 || buf[1] != LIBUSB_DT_STRING)
        return 0;
    const int len = std::min<int>(n, buf[0]);
    std::uint16_t first = 0;
    for (int i = 2; i + 1 < len; i += 2) {
        const std::uint16_t lang = static_cast<std::uint16_t>(buf[i] | (buf[i + 1] << 8));
        if (lang == 0x0409)
            return lang;
        if (!first)
            first = lang;
    }
    return first;
}

std::string readString(libusb_device_handle* h, std::uint8_t index, std::uint16_t lang)
{
    if (!index || !lang)
        return {};
    unsigned char buf[255];
    const int n = libusb_control_transfer(h, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                          static_cast<std::uint16_t>((LIBUSB_DT_STRING << 8) | index),
                                          lang, buf, sizeof buf, kControlTimeoutMs);
    if (n < 2 || buf[1] != LIBUSB_DT_STRING)
        return {};
    const int len = std::min<int>(n, buf[0]);
    return utf16leToUtf8(buf + 2, len - 2);
}

void readInfo(libusb_device* dev, libusb_device_handle* h, UsbDeviceInfo& info)
{
    libusb_device_descriptor dd{};
    libusb_get_device_descriptor(dev, &dd);
    auto& raw = info.deviceDescriptor;
    raw = {dd.bLength,
           dd.bDescriptorType,
           static_cast<std::uint8_t>(dd.bcdUSB & 0xFF),
           static_cast<std::uint8_t>(dd.bcdUSB >> 8),
           dd.bDeviceClass,
           dd.bDeviceSubClass,
           dd.bDeviceProtocol,
           dd.bMaxPacketSize0,
           static_cast<std::uint8_t>(dd.idVendor & 0xFF),
           static_cast<std::uint8_t>(dd.idVendor >> 8),
           static_cast<std::uint8_t>(dd.idProduct & 0xFF),
           static_cast<std::uint8_t>(dd.idProduct >> 8),
           static_cast<std::uint8_t>(dd.bcdDevice & 0xFF),
           static_cast<std::uint8_t>(dd.bcdDevice >> 8),
           dd.iManufacturer,
           dd.iProduct,
           dd.iSerialNumber,
           dd.bNumConfigurations};
    info.vendorId = dd.idVendor;
    info.productId = dd.idProduct;
    info.usbAddress = libusb_get_device_address(dev);
    info.highSpeed = libusb_get_device_speed(dev) >= LIBUSB_SPEED_HIGH;

    info.language = chooseLanguage(h);
    info.manufacturer = readString(h, dd.iManufacturer, info.language);
    info.product = readString(h, dd.iProduct, info.language);
    info.serialNumber = readString(h, dd.iSerialNumber, info.language);
    info.deviceName = info.product;
    if (info.deviceName.empty() && isBoxUsbId(dd.idVendor, dd.idProduct))
        info.deviceName = kBoxDeviceName;  // firmware without strings
    info.friendlyName = info.deviceName;

    info.configurations.clear();
    for (int c = 0; c < std::min<int>(dd.bNumConfigurations, kMaxConfigurations); ++c) {
        libusb_config_descriptor* cfg = nullptr;
        if (libusb_get_config_descriptor(dev, static_cast<std::uint8_t>(c), &cfg) != 0)
            break;
        ConfigDescriptor config;
        for (int i = 0; i < cfg->bNumInterfaces; ++i) {
            const libusb_interface& itf = cfg->interface[i];
            for (int a = 0; a < itf.num_altsetting && config.interfaces.size() < kMaxInterfaces; ++a) {
                const libusb_interface_descriptor& alt = itf.altsetting[a];
                InterfaceDescriptor out;
                out.number = alt.bInterfaceNumber;
                out.alternateSetting = alt.bAlternateSetting;
                for (int e = 0; e < alt.bNumEndpoints; ++e) {
                    const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                    out.endpoints.push_back({ep.bLength, ep.bDescriptorType, ep.bEndpointAddress,
                                             ep.bmAttributes, ep.wMaxPacketSize, ep.bInterval});
                }
                config.interfaces.push_back(std::move(out));
            }
        }
        libusb_free_config_descriptor(cfg);
        info.configurations.push_back(std::move(config));
    }
}

int currentAlternateSetting(libusb_device_handle* h)
{
    unsigned char alt = 0;
    const int n = libusb_control_transfer(
        h, 0x81 /* device-to-host, standard, interface */, LIBUSB_REQUEST_GET_INTERFACE, 0, 0, &alt, 1, kControlTimeoutMs);
    return n == 1 ? alt : 0;
}

std::string describe(libusb_device* dev, const char* what, int err)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "USB device on bus %03d device %03d: %s (%s)",
                  libusb_get_bus_number(dev), libusb_get_device_address(dev), what,
                  libusb_strerror(err));
    return buf;
}

}  // namespace libusb_impl
