#include "iwProcess.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Errors.h"
#include "TestPictures.h"

namespace ombrix {
namespace {

using test::Fill;
using test::FillRandom;

TColor ColorAt(TBitmap& bitmap, int x, int y) {
  return bitmap.Canvas().Pixel(x, y);
}

// ---------------------------------------------------------------------------------------------
// The registry

// clang-format off
const std::vector<std::string> kExpectedNames = {
    "Custom", "Average", "Average More", "Blur", "Blur More", "Gaussian Blur", "Low Pass",
    "Smooth", "Smooth Circle", "Smooth Cone", "Smooth Pyramidal", "Sharpen", "Sharpen More",
    "Unsharp Mask", "High Pass", "Laplacian", "Edge", "Prewitt North South",
    "Prewitt South North", "Prewitt East West", "Prewitt West East", "Prewitt Edge",
    "Sobel North South", "Sobel South North", "Sobel East West", "Sobel West East", "Sobel Edge",
    "Line Mask Vertical", "Line Mask Horizontal", "Line Mask", "Emboss", "Emboss Color",
    "Mosaic", "Minimum", "Maximum", "Max Min", "Min Max", "Median", "Degrain Bright",
    "Degrain Dark", "Degrain"};
// clang-format on

TEST(Registry, Holds41UniqueNamesInRegistrationOrder) {
  TImageWork work;
  std::vector<std::string> names;
  std::set<const std::type_info*> types;
  for (const TFilterEntry& entry : work.FilterNames()) {
    names.push_back(entry.Name);
    types.insert(entry.Class.Type);
  }
  EXPECT_EQ(names, kExpectedNames);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 41u);
  EXPECT_EQ(types.size(), 41u);
}

TEST(Registry, EveryEntryIsCreatedWithItsOwnerAndRunsOnAnOddPicture) {
  TBitmap picture(5, 3);
  FillRandom(picture, 41);
  const TImageWork registry;
  for (const TFilterEntry& entry : registry.FilterNames()) {
    SCOPED_TRACE(entry.Name);
    TImageWork work;
    int filterChanges = 0;
    work.OnFilterChange = [&](TImageWork*) { ++filterChanges; };
    work.SetFilterName(entry.Name);
    EXPECT_EQ(filterChanges, entry.Name == "Custom" ? 0 : 1);
    EXPECT_EQ(work.FilterName(), entry.Name);
    const TImageBaseFilter& filter = *work.Filter();
    EXPECT_TRUE(entry.Class.Is(typeid(filter)));
    EXPECT_STREQ(work.Filter()->ClassName(), entry.Class.ClassName);
    EXPECT_EQ(work.Filter()->GetOwner(), &work);
    ASSERT_TRUE(work.ApplyFilter(&picture));
    EXPECT_EQ(work.OutputBitmap()->Width(), 5);
    EXPECT_EQ(work.OutputBitmap()->Height(), 3);
  }
}

TEST(DisplayName, SpacesGoBeforeEveryCharacterButLowerCaseLettersAndTheFirst) {
  EXPECT_EQ(FilterDisplayName("TUnsharpMaskFilter"), "Unsharp Mask");
  EXPECT_EQ(FilterDisplayName("TPrewittNorthSouthFilter"), "Prewitt North South");
  EXPECT_EQ(FilterDisplayName("TLine3DFilter"), "Line 3 D");
  EXPECT_EQ(FilterDisplayName("TaB_cFilter"), "a B _c");
  EXPECT_EQ(FilterDisplayName("TXFilter"), "X");
  EXPECT_EQ(FilterDisplayName("TFilter"), "");
  EXPECT_EQ(FilterDisplayName("T"), "");
}

// ---------------------------------------------------------------------------------------------
// Choosing the filter

struct Recorder {
  explicit Recorder(TImageWork& work) {
    auto log = [this, &work](const char* what) {
      return [this, &work, what](TImageWork* sender) {
        events.push_back(what);
        if (sender != &work) events.push_back("wrong sender");
      };
    };
    work.OnProcessBegin = log("begin");
    work.OnProcessEnd = log("end");
    work.OnProcessSuccess = log("success");
    work.OnProcessFail = log("fail");
    work.OnFilterChange = log("filter");
    work.OnTransformChange = log("transform");
  }
  std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST(FilterName, NewComponentHasTheCustomFilterOfZerosThatYieldsBlack) {
  TImageWork work;
  EXPECT_EQ(work.FilterName(), "Custom");
  ASSERT_NE(work.FilterAs<TCustomFilter>(), nullptr);
  EXPECT_FALSE(work.FilterNameStored());
  TBitmap picture(3, 2);
  Fill(picture, 0x336699);
  ASSERT_TRUE(work.ApplyFilter(&picture));
  EXPECT_EQ(ColorAt(*work.OutputBitmap(), 2, 1), 0u);
}

TEST(FilterName, SelectsByNameIgnoringCaseOnlyWhenTheClassChangesAndIgnoresUnknownNames) {
  for (const char* first : {"Unsharp Mask", "unsharp mask", "UNSHARP MASK"}) {
    TImageWork work;
    Recorder recorder(work);
    work.SetFilterName(first);
    EXPECT_EQ(recorder.events, Events{"filter"}) << first;
    const auto* mask = work.FilterAs<TUnsharpMaskFilter>();
    ASSERT_NE(mask, nullptr) << first;
    EXPECT_EQ(mask->Radius(), 1.0f);
    EXPECT_EQ(work.FilterName(), "Unsharp Mask");
    EXPECT_TRUE(work.FilterNameStored());
    for (const char* again : {"Unsharp Mask", "unsharp mask", "", "Unsharp  Mask", "UnsharpMask",
                              "TUnsharpMaskFilter", "Blurr"}) {
      work.SetFilterName(again);
    }
    EXPECT_EQ(work.Filter(), mask);
    EXPECT_EQ(recorder.events, Events{"filter"}) << first;
  }
}

TEST(FilterName, UnregisteredClassHasNoNameAndCannotBeWrittenThroughFilter) {
  TImageWork work;
  work.SetFilterName("Sharpen");
  Recorder recorder(work);
  const TImageBaseFilter* kept = work.Filter();
  // Writing Filter refuses a class it cannot name, and no filter at all.
  TBoundaryBaseFilter unregistered(nullptr);
  try {
    work.SetFilter(&unregistered);
    ADD_FAILURE() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Indice de liste hors limites (-1)");
  }
  EXPECT_THROW(work.SetFilter(nullptr), EConvertError);
  EXPECT_EQ(work.Filter(), kept);
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_TRUE(static_cast<bool>(work.OnFilterChange));
  // Choosing such a class directly leaves a filter without a name.
  work.SetFilterClass(FilterClassOf<TBoundaryBaseFilter>());
  EXPECT_EQ(recorder.events, Events{"filter"});
  EXPECT_THROW((void)work.FilterName(), EListError);
  EXPECT_THROW(work.SetFilterName("Blur"), EListError);
  EXPECT_NE(work.FilterAs<TBoundaryBaseFilter>(), nullptr);
}

TEST(SetFilter, AnotherClassIsAnnouncedOnceTheSameClassOnlyWhenSomethingChanged) {
  TImageWork work;
  Recorder recorder(work);
  TMaxMinFilter value(nullptr);  // defaults: the change is the class alone
  work.SetFilter(&value);
  EXPECT_EQ(recorder.events, Events{"filter"});
  EXPECT_EQ(work.FilterName(), "Max Min");
  work.SetFilter(&value);
  EXPECT_EQ(recorder.events, Events{"filter"});
  value.SetHysteresis(9);
  value.SetSamplingBox(5);
  work.SetFilter(&value);
  EXPECT_EQ(recorder.events, (Events{"filter", "filter"}));

  TGaussianBlurFilter blur(nullptr);
  blur.SetRadius(3.0f);
  work.SetFilter(&blur);
  EXPECT_EQ(recorder.events, (Events{"filter", "filter", "filter"}));
  const auto* copy = work.FilterAs<TGaussianBlurFilter>();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Radius(), 3.0f);
  EXPECT_NE(work.Filter(), &blur);
  EXPECT_EQ(copy->GetOwner(), &work);
}

// ---------------------------------------------------------------------------------------------
// ApplyFilter

TEST(ApplyFilter, FiresBeginThenSuccessOrFailThenEndIntoOneReusedBitmap) {
  TImageWork work;
  work.SetFilterName("Average");
  Recorder recorder(work);
  TBitmap picture(4, 3);
  Fill(picture, 0x102030);
  EXPECT_TRUE(work.ApplyFilter(&picture));
  EXPECT_EQ(recorder.events, (Events{"begin", "success", "end"}));
  TBitmap* output = work.OutputBitmap();
  EXPECT_EQ(ColorAt(*output, 3, 2), 0x102030u);

  // No pixels: fail, and the output keeps the last result.
  recorder.events.clear();
  TBitmap empty;
  EXPECT_FALSE(work.ApplyFilter(&empty));
  EXPECT_FALSE(work.ApplyFilter(nullptr));
  EXPECT_EQ(recorder.events, (Events{"begin", "fail", "end", "begin", "fail", "end"}));
  EXPECT_EQ(output->Width(), 4);
  EXPECT_EQ(ColorAt(*output, 3, 2), 0x102030u);

  // The same bitmap takes each new size, 32 bits a pixel whatever the source's format.
  TBitmap other(9, 7, pf24bit);
  ASSERT_TRUE(work.ApplyFilter(&other));
  EXPECT_EQ(work.OutputBitmap(), output);
  EXPECT_EQ(output->Width(), 9);
  EXPECT_EQ(output->Height(), 7);
  EXPECT_EQ(output->PixelFormat(), pf32bit);
}

TEST(ApplyFilter, AnErrorOfThePassEndsTheProcessWithoutAResult) {
  TImageWork work;
  work.Filter()->SetScaleFactor(0);
  Recorder recorder(work);
  TBitmap picture(2, 2);
  EXPECT_THROW(work.ApplyFilter(&picture), EDivByZero);
  EXPECT_EQ(recorder.events, (Events{"begin", "end"}));
}

// The main window's use: unsharp mask by name, bicubic transform with one item, then per frame
// the radius, ApplyFilter on the view and a copy of the output back into the view.
TEST(ImageWork, SharpensTheViewAsTheMainWindowDoes) {
  TImageWork work;
  work.SetFilterName("Unsharp Mask");
  work.Transform()->SetResample(rsBicubic);
  work.Transform()->Transformations().Add();
  const TAffineMatrix& m = work.Transform()->Matrix();
  EXPECT_EQ((std::vector<float>{m.M11, m.M12, m.M21, m.M22, m.Dx, m.Dy}),
            (std::vector<float>{1, 0, 0, 1, 0, 0}));
  Recorder recorder(work);

  TBitmap view(9, 9);
  for (int frame = 0; frame < 2; ++frame) {
    Fill(view, 0x646464);                    // grey 100
    view.Canvas().SetPixel(4, 4, 0xC8C8C8);  // one pixel of 200
    auto* mask = work.FilterAs<TGaussianBaseFilter>();
    ASSERT_NE(mask, nullptr);
    mask->SetRadius(1.0f);
    ASSERT_TRUE(work.ApplyFilter(&view));
    view.Assign(work.OutputBitmap());
    EXPECT_EQ(ColorAt(view, 4, 4), 0xFFFFFFu);
    EXPECT_EQ(ColorAt(view, 4, 3), 0x5A5A5Au);  // 90
    EXPECT_EQ(ColorAt(view, 3, 3), 0x5D5D5Du);  // 93
    EXPECT_EQ(ColorAt(view, 4, 2), 0x616161u);  // 97
    EXPECT_EQ(ColorAt(view, 4, 1), 0x646464u);
  }
  // The same radius twice rebuilds nothing and announces nothing.
  EXPECT_EQ(recorder.events, (Events{"begin", "success", "end", "begin", "success", "end"}));
}

TEST(ImageWork, TransformChangesAreAnnouncedByTheComponentAndCopiedOnWrite) {
  TImageWork work;
  Recorder recorder(work);
  work.Transform()->SetResample(rsBicubic);
  work.Transform()->SetResample(rsBicubic);
  EXPECT_EQ(recorder.events, Events{"transform"});

  TImageTransform settings(nullptr);
  settings.SetBackColor(0x123456);
  settings.Transformations().Add()->SetKind(tkScale);
  work.SetTransform(&settings);
  EXPECT_EQ(recorder.events, (Events{"transform", "transform"}));
  EXPECT_EQ(work.Transform()->BackColor(), 0x123456u);
  EXPECT_EQ(work.Transform()->Resample(), rsBilinear);
  EXPECT_EQ(work.Transform()->Transformations().Count(), 1);
  EXPECT_EQ(work.Transform()->GetOwner(), &work);
}

}  // namespace
}  // namespace ombrix
