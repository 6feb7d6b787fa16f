# SPDX-License-Identifier: Apache-2.0
# The Routing page's widgets and view.
gui_test(test_gui_routing SegmentDisplayTest.cpp GradientButtonTest.cpp RoutingViewTest.cpp LIBS core_routing)
