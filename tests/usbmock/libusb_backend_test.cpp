#include "mock_box.h"

#include "link/box_usb_device.h"
#include "link/libusb_backend.h"

#include <gtest/gtest.h>

namespace {

class LibusbBackendTest : public ::testing::Test {
protected:
    void SetUp() override { testbed_ = umockdev_testbed_new(); }
    void TearDown() override
    {
        backend_.reset();
        boxes_.clear();
        g_object_unref(testbed_);
    }
    MockBox& addBox(MockBoxSpec spec = {})
    {
        boxes_.push_back(std::make_unique<MockBox>(testbed_, std::move(spec)));
        return *boxes_.back();
    }
    std::shared_ptr<LibusbBackend> startBackend(LibusbBackend::Options options = {})
    {
        backend_ = std::make_shared<LibusbBackend>(options);
        return backend_;
    }

    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<MockBox>> boxes_;
    std::shared_ptr<LibusbBackend> backend_;
};

TEST_F(LibusbBackendTest, OpensTheBoxByItsProductString)
{
    MockBox& box = addBox();
    auto backend = startBackend();
    ASSERT_TRUE(backend->isReady()) << backend->initError();
    EXPECT_EQ(backend->deviceCount(), 1);
    std::string error;
    auto h = backend->open(0, &error);
    ASSERT_TRUE(h) << error;
    EXPECT_EQ(h->info().deviceName, kBoxDeviceName);
    EXPECT_TRUE(box.interfaceClaimed());
    h->close();
    EXPECT_FALSE(box.interfaceClaimed());
    EXPECT_TRUE(box.unhandledRequests().empty());
}

}  // namespace
